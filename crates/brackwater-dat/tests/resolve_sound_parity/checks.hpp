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

}  // namespace brackwater_dat::parity
