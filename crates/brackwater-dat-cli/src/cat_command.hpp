#pragma once

#include <cstdint>
#include <string>

#include "output.hpp"

namespace brackwater_dat::cli {

struct CatOptions {
  std::string archive;
  std::uint32_t id = 0;
  bool raw = false;
  bool force = false;
};

// One file's contents, or its stored bytes, to standard output.
ExitStatus run_cat(const CatOptions& options);

}  // namespace brackwater_dat::cli
