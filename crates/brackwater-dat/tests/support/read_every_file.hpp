#pragma once

#include <brackwater_dat/dat_database.hpp>
#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <string>

namespace brackwater_dat::test_support {

// Everything an archive answers: the open error, or its header, its
// directory and each file's bytes or error. Errors are kept as debug texts, so
// two readings compare whole.
struct ArchiveOutcome {
  std::optional<std::string> open_error;
  std::optional<DatHeader> header;
  std::map<std::uint32_t, DatFileEntry> entries;
  std::map<std::uint32_t, Bytes> files;
  std::map<std::uint32_t, std::string> file_errors;

  bool operator==(const ArchiveOutcome&) const = default;
};

// Fetches every file of the directory with get_file.
ArchiveOutcome read_every_file(const Result<DatDatabase>& db);

// A short summary for test failure messages, not a byte dump.
void PrintTo(const ArchiveOutcome& outcome, std::ostream* out);

}  // namespace brackwater_dat::test_support
