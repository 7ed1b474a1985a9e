#pragma once

#include "runner/check.hpp"

namespace brackwater_dat::parity {

// The checks of resolve_sound_parity, each declared with its descriptor. A
// check passes by returning and fails by throwing the runner's failure.

// The browser client's binding resolves a sound by the library's rule.
void js_resolve_sound_first_body_matches_rust();
inline constexpr runner::CheckDescriptor kJsResolveSoundFirstBodyMatchesRust =
    runner::integration_check("js_resolve_sound_first_body_matches_rust",
                              &js_resolve_sound_first_body_matches_rust);

// The retail archive's sound tables resolve six fixed questions to their
// pinned waves.
void rust_resolve_sound_matches_pinned_goldens();
inline constexpr runner::CheckDescriptor kRustResolveSoundMatchesPinnedGoldens =
    runner::integration_check("rust_resolve_sound_matches_pinned_goldens",
                              &rust_resolve_sound_matches_pinned_goldens);

// All 205 sound kinds of two retail tables resolve as the external reference
// tool resolves them.
void rust_vs_csharp_full_enum_cardinality();
inline constexpr runner::CheckDescriptor kRustVsCsharpFullEnumCardinality =
    runner::integration_check("rust_vs_csharp_full_enum_cardinality",
                              &rust_vs_csharp_full_enum_cardinality);

}  // namespace brackwater_dat::parity
