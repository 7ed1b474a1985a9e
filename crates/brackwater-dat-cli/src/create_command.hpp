#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "output.hpp"

namespace brackwater_dat::cli {

struct CreateOptions {
  std::string archive;
  std::string folder;
  std::optional<std::uint32_t> block_size;
  std::optional<std::string> compress;  // store, fast, best or smaller
  std::string like;                     // an archive to take the header and entries' fields from
  bool force = false;
  bool json = false;
  std::optional<bool> progress;
};

// A new archive of every FOLDER/TT/XXXXXXXX.bin, as extract lays files out;
// anything else in FOLDER is an error. With an archive to be like, its
// header's stored fields, and each file's timestamp, version and (unless
// --compress says) whether it is compressed, come from that archive's entry
// of the same id. SIGINT or SIGTERM: nothing is written; 128 and the
// signal's number.
ExitStatus run_create(const CreateOptions& options);

}  // namespace brackwater_dat::cli
