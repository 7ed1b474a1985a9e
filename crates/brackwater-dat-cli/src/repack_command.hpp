#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "output.hpp"

namespace brackwater_dat::cli {

struct RepackOptions {
  std::string input;
  std::string archive;
  std::vector<std::pair<std::uint32_t, std::string>> puts;  // --put ID=FILE
  std::vector<std::uint32_t> removes;
  std::optional<std::string> compress;  // keep (the default), store, fast, best or smaller
  std::optional<std::uint32_t> block_size;
  bool force = false;
  bool skip_unreadable = false;
  bool json = false;
  std::optional<bool> progress;
};

// Every file of INPUT into a new archive laid out afresh, its stored bytes
// copied as they are or recompressed, with files put in or removed, and
// INPUT's header's stored fields. Files that cannot be read are listed and
// nothing is written, unless they are to be skipped. SIGINT or SIGTERM:
// nothing is written; 128 and the signal's number.
ExitStatus run_repack(const RepackOptions& options);

}  // namespace brackwater_dat::cli
