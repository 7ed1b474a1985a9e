#pragma once

#include <brackwater_dat/dat_database.hpp>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ids.hpp"

namespace brackwater_dat::cli {

// How a command opens its archive.
struct Opening {
  DirectoryLoading loading = DirectoryLoading::whole;
  // Whether a header that is not an archive's (see check_header) is refused
  // before anything is read or written, or only shown (info, verify,
  // --any-header).
  bool refuse_foreign = true;
};

// How archives named by http:// or https:// URLs are read, for the whole run.
struct RemoteReading {
  bool whole = false;                // the directory read whole when opened, as for a file
  std::vector<std::string> headers;  // "Name: value", sent with every request
  std::chrono::milliseconds timeout{30'000};
  bool verbose = false;  // each request's range, status and time on standard error
};
void set_remote_reading(RemoteReading reading);

// The database at `path`, a file or a URL, opened as `loading` says. A URL
// has one source for the run, however many times it is opened, so that its
// bytes are fetched once.
Result<DatDatabase> open_database(const std::string& path, DirectoryLoading loading);

// The archive at `path`, or none after reporting why it cannot be opened, or
// why it is not an archive.
std::optional<DatDatabase> open_archive(const std::string& path, const Opening& opening = {});

// Why the archive at `path` could not be opened, for people: the library's
// words, with the path where they do not name it, and a header cut short in
// the archive's terms. A pipe is refused before it is opened.
std::string open_failure_text(const std::string& path, const DatError& error);

// The header's problems as one text, "; " between them.
std::string header_problem_text(const std::vector<std::string>& problems);

// The directory's entries sorted by id, only those of `type` when one is
// given; none after reporting why they cannot be listed.
std::optional<std::vector<DatFileEntry>> sorted_entries(
    const DatDatabase& db, std::optional<std::uint8_t> type = std::nullopt);

// Only the entries of `type` when one is given, in their order.
std::vector<DatFileEntry> of_type(std::vector<DatFileEntry> entries,
                                  std::optional<std::uint8_t> type);

// Why file `id` could not be read, for people: `error`'s text; for an id not
// in the archive, with the id the person probably meant when they typed
// decimal digits that name a file in hex.
std::string failure_text(const DatDatabase& db, const TypedId& id, const DatError& error);

// "1 file", "2 files": a count and its noun in agreement.
std::string counted(std::uint64_t count, std::string_view noun);

}  // namespace brackwater_dat::cli
