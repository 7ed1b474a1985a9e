#include "resolve_sound_parity/checks.hpp"
#include "resolve_sound_parity/client_source.hpp"
#include "resolve_sound_parity/client_source_rule.hpp"
#include "runner/failure.hpp"

namespace brackwater_dat::parity {

void js_resolve_sound_first_body_matches_rust() {
  if (auto verdict = verify_resolve_sound_first(client_source()); !verdict) {
    runner::fail(std::move(verdict.error()));
  }
}

}  // namespace brackwater_dat::parity
