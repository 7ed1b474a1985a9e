#pragma once

#include <string>

#include "output.hpp"

namespace brackwater_dat::cli {

struct InfoOptions {
  std::string archive;
  bool json = false;
};

// The archive's path and length, its header, and counts of its files.
ExitStatus run_info(const InfoOptions& options);

}  // namespace brackwater_dat::cli
