#pragma once

namespace brackwater_dat::parity {

// The checks of resolve_sound_parity. Each passes by returning and fails by
// throwing the runner's failure.

// The browser client's binding resolves a sound by the library's rule.
void js_resolve_sound_first_body_matches_rust();

}  // namespace brackwater_dat::parity
