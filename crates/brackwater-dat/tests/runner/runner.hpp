#pragma once

#include <span>

#include "runner/check.hpp"

namespace brackwater_dat::runner {

// Runs the checks of `checks` (a static table sorted by name) that the command
// line selects, prints the report on standard output and returns the process's
// exit status: 0 when every selected check passed, 101 otherwise or when the
// command line is wrong.
[[nodiscard]] int run_checks(int argc, const char* const* argv,
                             std::span<const CheckDescriptor> checks);

}  // namespace brackwater_dat::runner
