#include <array>

#include "resolve_sound_parity/checks.hpp"
#include "runner/runner.hpp"

namespace {

using brackwater_dat::runner::integration_check;
namespace parity = brackwater_dat::parity;

// Sorted by name.
constexpr std::array kChecks = {
    integration_check("js_resolve_sound_first_body_matches_rust",
                      &parity::js_resolve_sound_first_body_matches_rust),
};

}  // namespace

int main(int argc, char** argv) { return brackwater_dat::runner::run_checks(argc, argv, kChecks); }
