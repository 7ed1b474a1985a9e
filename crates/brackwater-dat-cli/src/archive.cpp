#include "archive.hpp"

#include <algorithm>

#include "output.hpp"

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

}  // namespace brackwater_dat::cli
