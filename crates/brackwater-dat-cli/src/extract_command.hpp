#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "output.hpp"

namespace brackwater_dat::cli {

struct ExtractOptions {
  std::string archive;
  std::string folder;
  std::optional<std::uint8_t> type;
  bool raw = false;
  unsigned threads = 1;
  bool force = false;
  std::optional<bool> progress;  // --progress or --no-progress
};

// Every file (or one type's) to FOLDER/TT/XXXXXXXX.bin, on several threads.
ExitStatus run_extract(const ExtractOptions& options);

}  // namespace brackwater_dat::cli
