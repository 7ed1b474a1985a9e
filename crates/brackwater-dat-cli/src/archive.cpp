#include "archive.hpp"

#include <algorithm>
#include <array>
#include <brackwater_dat/dat_header.hpp>
#include <filesystem>

#include "output.hpp"
#include "process.hpp"
#include "text_format.hpp"

namespace brackwater_dat::cli {
namespace {

// Where an archive's header ends: a shorter file holds none.
constexpr std::uint64_t kHeaderEnd = 0x190;

// How a failure to open an archive is told, by the error's code: whether the
// library's text names the file itself (as "cannot open PATH: ..." does) or
// the tool puts the path in front of it. Every such failure exits with
// status 2 (ExitStatus::Failure).
constexpr std::array<bool, kErrorCodes> kNamesItsFile = [] {
  std::array<bool, kErrorCodes> names{};
  names[static_cast<std::size_t>(ErrorCode::path_error)] = true;
  return names;
}();

// A FIFO or socket opens but cannot be read at offsets, as an archive is.
bool is_stream(const std::string& path) {
  std::error_code ignored;
  const auto type = std::filesystem::status(path_of(path), ignored).type();
  return type == std::filesystem::file_type::fifo || type == std::filesystem::file_type::socket;
}

}  // namespace

std::string open_failure_text(const std::string& path, const DatError& error) {
  const std::string text = error_text(error);
  if (kNamesItsFile[static_cast<std::size_t>(error_code(error))]) return text;
  if (const auto* parse = std::get_if<DatError::BinRead>(&error.value)) {
    const auto& cut = parse->error.cause().short_read();
    if (cut && cut->length < kHeaderEnd && text == display_text(error)) {
      return shown_path(path) + (cut->length == 0
                                     ? " is empty: an archive's header ends at 0x190"
                                     : " ends at " + std::to_string(cut->length) +
                                           " bytes, inside the header (which ends at 0x190)");
    }
  }
  return shown_path(path) + ": " + text;
}

std::string header_problem_text(const std::vector<std::string>& problems) {
  std::string text;
  for (std::size_t i = 0; i < problems.size(); ++i) text += (i > 0 ? "; " : "") + problems[i];
  return text;
}

std::optional<DatDatabase> open_archive(const std::string& path, const Opening& opening) {
  if (path == "-") {
    report_error(
        "an archive is read at offsets, so it needs a seekable file: '-' (standard "
        "input) cannot be one; save it to a file first");
    return std::nullopt;
  }
  if (is_stream(path)) {
    report_error(shown_path(path) +
                 " is a pipe or socket: an archive is read at offsets, so it needs a seekable "
                 "file");
    return std::nullopt;
  }
  // The header alone first: a file that is not an archive is refused for
  // what its header says before its directory is read.
  auto db = DatDatabase::open(path_of(path), DirectoryLoading::on_demand);
  if (db && opening.refuse_foreign) {
    const std::vector<std::string> problems = check_header(db->header(), db->length());
    if (!problems.empty()) {
      report_error(shown_path(path) + " is not an archive: " + problems.front() +
                   "; --any-header reads it anyway");
      return std::nullopt;
    }
  }
  if (db && opening.loading == DirectoryLoading::whole) {
    db = DatDatabase::open(path_of(path), DirectoryLoading::whole);
  }
  if (!db) {
    report_error(open_failure_text(path, db.error()));
    return std::nullopt;
  }
  return std::move(*db);
}

std::optional<std::vector<DatFileEntry>> sorted_entries(const DatDatabase& db,
                                                        std::optional<std::uint8_t> type) {
  auto entries = db.entries();
  if (!entries) {
    report_error(error_text(entries.error()));
    return std::nullopt;
  }
  return of_type(std::move(*entries), type);
}

std::vector<DatFileEntry> of_type(std::vector<DatFileEntry> entries,
                                  std::optional<std::uint8_t> type) {
  if (type) {
    std::erase_if(entries, [&](const DatFileEntry& e) { return file_type_of(e.id) != *type; });
  }
  return entries;
}

std::string failure_text(const DatDatabase& db, const TypedId& id, const DatError& error) {
  std::string text = error_text(error);
  if (std::holds_alternative<DatError::NotFound>(error.value)) {
    text += id.suggestion([&](std::uint32_t other) { return db.find(other).has_value(); }, hex_id);
  }
  return text;
}

std::string counted(std::uint64_t count, std::string_view noun) {
  return std::to_string(count) + " " + std::string(noun) + (count == 1 ? "" : "s");
}

}  // namespace brackwater_dat::cli
