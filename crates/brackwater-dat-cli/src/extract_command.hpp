#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ids.hpp"
#include "output.hpp"

namespace brackwater_dat::cli {

struct ExtractOptions {
  std::string archive;
  std::string folder;
  std::optional<std::uint8_t> type;
  std::vector<TypedId> ids;  // only these files, when any are given
  bool raw = false;
  unsigned threads = 1;
  bool force = false;
  bool allow_shared = false;     // extract files whose chains loop or share blocks
  std::optional<bool> progress;  // --progress or --no-progress
  bool partial = false;          // a compressed file whose stream ends early: what decodes
  bool any_header = false;       // read a file whose header is not an archive's
};

// Every file (or one type's) to FOLDER/TT/XXXXXXXX.bin, on several threads;
// unless allowed, none whose chain loops or shares blocks. SIGINT or SIGTERM
// stops it early: it takes back its partial files, sums up, and returns 128
// and the signal's number.
ExitStatus run_extract(const ExtractOptions& options);

}  // namespace brackwater_dat::cli
