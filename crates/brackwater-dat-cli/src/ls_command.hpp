#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "output.hpp"

namespace brackwater_dat::cli {

struct LsOptions {
  std::string archive;
  std::optional<std::uint8_t> type;
  bool json = false;
  bool long_format = false;  // a header line, times as ISO 8601, decompressed sizes
  bool any_header = false;   // list a file whose header is not an archive's
};

// Every file's entry (or one type's), sorted by id.
ExitStatus run_ls(const LsOptions& options);

}  // namespace brackwater_dat::cli
