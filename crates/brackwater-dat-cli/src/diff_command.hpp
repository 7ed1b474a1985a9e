#pragma once

#include <string>

#include "output.hpp"

namespace brackwater_dat::cli {

struct DiffOptions {
  std::string old_archive;
  std::string new_archive;
  bool content = false;
  bool json = false;
};

// Files added, removed and changed between two archives.
ExitStatus run_diff(const DiffOptions& options);

}  // namespace brackwater_dat::cli
