#include "archive.hpp"

#include <algorithm>

#include "output.hpp"
#include "text_format.hpp"

namespace brackwater_dat::cli {

std::optional<DatDatabase> open_archive(const std::string& path) {
  auto db = DatDatabase::open(path);
  if (!db) {
    report_error(display_text(db.error()));
    return std::nullopt;
  }
  return std::move(*db);
}

std::vector<DatFileEntry> sorted_entries(const DatDatabase& db, std::optional<std::uint8_t> type) {
  std::vector<DatFileEntry> entries;
  entries.reserve(db.directory().size());
  for (const auto& [id, entry] : db.directory()) {
    if (!type || file_type_of(id) == *type) entries.push_back(entry);
  }
  std::ranges::sort(entries, {}, &DatFileEntry::id);
  return entries;
}

std::string missing_file_text(const DatDatabase& db, const TypedId& id) {
  return display_text(DatError{DatError::NotFound{id.value}}) +
         id.suggestion([&](std::uint32_t other) { return db.directory().contains(other); },
                       format_id);
}

}  // namespace brackwater_dat::cli
