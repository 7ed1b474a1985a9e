#pragma once

#include <string>

#include "output.hpp"

namespace brackwater_dat::cli {

struct DiffOptions {
  std::string old_archive;
  std::string new_archive;
  bool entries_only = false;  // compare the directories alone, not the files' contents
  unsigned threads = 1;
  bool json = false;
  bool any_header = false;
};

// Files added, removed and changed between two archives.
ExitStatus run_diff(const DiffOptions& options);

}  // namespace brackwater_dat::cli
