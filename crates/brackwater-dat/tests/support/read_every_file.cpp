#include "support/read_every_file.hpp"

#include <set>
#include <type_traits>

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

namespace {

template <class T>
std::string answer_text(const Result<T>& answer) {
  if (!answer) return debug_text(answer.error());
  if constexpr (std::is_same_v<T, DatFileEntry>) {
    return "entry at " + hex_id(answer->offset);
  } else {
    return std::to_string(answer->size()) + " bytes";
  }
}

}  // namespace

std::optional<std::string> on_demand_disagreement(const DatDatabase& whole,
                                                  const DatDatabase& on_demand) {
  const auto problems = whole.directory_order_problems();
  const bool search_tree = problems && problems->empty();
  std::set<std::uint32_t> ids{0, 0xFFFFFFFF};
  for (const auto& [id, entry] : whole.directory()) ids.insert({id - 1, id, id + 1});
  for (const std::uint32_t id : ids) {
    const auto expected = whole.find(id);
    const auto got = on_demand.find(id);
    const bool same =
        got.has_value() == expected.has_value() &&
        (got ? *got == *expected : debug_text(got.error()) == debug_text(expected.error()));
    if (!same && (search_tree || (got && !expected))) {
      return "find(" + hex_id(id) + "): " + answer_text(got) + ", whole: " + answer_text(expected);
    }
    if (!same || !got) continue;
    const auto file = on_demand.get_file(id);
    const auto whole_file = whole.get_file(id);
    if (file.has_value() != whole_file.has_value() ||
        (file ? *file != *whole_file
              : debug_text(file.error()) != debug_text(whole_file.error()))) {
      return "get_file(" + hex_id(id) + "): " + answer_text(file) +
             ", whole: " + answer_text(whole_file);
    }
  }
  return std::nullopt;
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
