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

std::optional<std::string> read_file_disagreement(const DatDatabase& db) {
  for (const auto& [id, entry] : db.directory()) {
    const auto expected = db.get_file(id);
    const auto size = db.file_size(id);
    const std::string which = "file " + hex_id(id) + ": ";
    if (!size) {
      // Only a read can fail where get_file does; the prefix is the start of that read.
      if (expected && expected->size() >= 4) return which + "file_size failed, get_file did not";
      continue;
    }
    if (expected && expected->size() > *size) return which + "get_file gave more than file_size";
    Bytes buffer(*size + 1, 0xEE);
    const auto got = db.read_file(id, std::span(buffer).first(*size));
    if (got.has_value() != expected.has_value()) return which + answer_text(expected);
    if (!got) {
      if (debug_text(got.error()) != debug_text(expected.error())) {
        return which + debug_text(got.error()) + ", get_file: " + debug_text(expected.error());
      }
      continue;
    }
    if (!std::equal(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(*got),
                    expected->begin(), expected->end())) {
      return which + "read_file's bytes differ from get_file's";
    }
    if (buffer[*size] != 0xEE) return which + "read_file wrote past its buffer";
    if (*size > 0) {
      const auto refused = db.read_file(id, std::span(buffer).first(*size - 1));
      if (refused || !std::holds_alternative<DatError::Other>(refused.error().value)) {
        return which + "a buffer one byte short was not refused";
      }
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
