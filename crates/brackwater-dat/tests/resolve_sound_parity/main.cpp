#include <array>

#include "resolve_sound_parity/checks.hpp"
#include "runner/runner.hpp"

namespace {

namespace parity = brackwater_dat::parity;

// Sorted by name.
constexpr std::array kChecks = {
    parity::kJsResolveSoundFirstBodyMatchesRust,
    parity::kRustResolveSoundMatchesPinnedGoldens,
    parity::kRustVsCsharpFullEnumCardinality,
};

}  // namespace

int main(int argc, char** argv) { return brackwater_dat::runner::run_checks(argc, argv, kChecks); }
