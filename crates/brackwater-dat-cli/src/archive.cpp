#include "archive.hpp"

#include <algorithm>

#include "output.hpp"
#include "process.hpp"
#include "text_format.hpp"

namespace brackwater_dat::cli {

std::optional<DatDatabase> open_archive(const std::string& path, DirectoryLoading loading) {
  auto db = DatDatabase::open(path_of(path), loading);
  if (!db) {
    report_error(display_text(db.error()));
    return std::nullopt;
  }
  return std::move(*db);
}

void warn_unless_archive(const DatDatabase& db, const std::string& path) {
  const std::vector<std::string> problems = check_header(db.header(), db.length());
  if (problems.empty()) return;
  std::string text = shown_path(path) + " does not look like an archive: ";
  for (std::size_t i = 0; i < problems.size(); ++i) text += (i > 0 ? "; " : "") + problems[i];
  report_warning(text);
}

std::optional<std::vector<DatFileEntry>> sorted_entries(const DatDatabase& db,
                                                        std::optional<std::uint8_t> type) {
  auto entries = db.entries();
  if (!entries) {
    report_error(display_text(entries.error()));
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
  std::string text = display_text(error);
  if (std::holds_alternative<DatError::NotFound>(error.value)) {
    text += id.suggestion([&](std::uint32_t other) { return db.find(other).has_value(); }, hex_id);
  }
  return text;
}

}  // namespace brackwater_dat::cli
