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

// Where an archive opened on demand answers otherwise than opened whole: for
// every id the whole directory holds, the ids on either side of each, 0 and
// 0xFFFFFFFF, find and get_file must answer alike. Where the directory is no
// search tree (as `whole` reports it) a lookup on demand sees only its path:
// it may fail, or find another occurrence of a repeated id, but never an id
// the whole directory lacks. The first disagreement, described; none when
// they agree.
std::optional<std::string> on_demand_disagreement(const DatDatabase& whole,
                                                  const DatDatabase& on_demand);

// Where read_file into a caller's buffer answers otherwise than get_file, for
// every file of the directory: into a buffer of file_size bytes it must give
// the same bytes or error, and a buffer one byte short must be refused. The
// first disagreement, described; none when they agree.
std::optional<std::string> read_file_disagreement(const DatDatabase& db);

// A short summary for test failure messages, not a byte dump.
void PrintTo(const ArchiveOutcome& outcome, std::ostream* out);

}  // namespace brackwater_dat::test_support
