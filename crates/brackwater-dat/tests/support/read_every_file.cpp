#include "support/read_every_file.hpp"

namespace brackwater_dat::test_support {

ArchiveOutcome read_every_file(const Result<DatDatabase>& db) {
  ArchiveOutcome outcome;
  if (!db) {
    outcome.open_error = debug_text(db.error());
    return outcome;
  }
  outcome.header = db->header();
  for (const auto& [id, entry] : db->directory()) {
    outcome.entries[id] = entry;
    if (auto file = db->get_file(id)) {
      outcome.files[id] = std::move(*file);
    } else {
      outcome.file_errors[id] = debug_text(file.error());
    }
  }
  return outcome;
}

void PrintTo(const ArchiveOutcome& outcome, std::ostream* out) {
  if (outcome.open_error) {
    *out << "open failed: " << *outcome.open_error;
    return;
  }
  std::size_t bytes = 0;
  for (const auto& [id, file] : outcome.files) bytes += file.size();
  *out << outcome.entries.size() << " entries, " << outcome.files.size() << " files read (" << bytes
       << " bytes), " << outcome.file_errors.size() << " errors";
  if (!outcome.file_errors.empty()) *out << ", first: " << outcome.file_errors.begin()->second;
}

}  // namespace brackwater_dat::test_support
