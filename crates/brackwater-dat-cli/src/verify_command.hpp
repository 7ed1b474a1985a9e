#pragma once

#include <optional>
#include <string>

#include "output.hpp"

namespace brackwater_dat::cli {

struct VerifyOptions {
  std::string archive;
  bool json = false;
  std::optional<bool> progress;  // --progress or --no-progress
};

// Checks the header, then reads every file and reports each that cannot be
// read, decompresses short, shares a block with another file, whose chain
// loops back on itself, or whose chain ends early.
ExitStatus run_verify(const VerifyOptions& options);

}  // namespace brackwater_dat::cli
