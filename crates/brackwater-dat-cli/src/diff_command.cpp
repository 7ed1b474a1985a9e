#include "diff_command.hpp"

#include <map>
#include <vector>

#include "archive.hpp"
#include "json_output.hpp"
#include "parallel.hpp"
#include "text_format.hpp"

namespace brackwater_dat::cli {
namespace {

enum class Change { Added, Removed, Changed };

struct Difference {
  Change change;
  std::vector<const char*> fields = {};  // of a changed entry
  bool content = false;
};

// The entry fields that make a change; where the file lies (offset) does not.
std::vector<const char*> changed_fields(const DatFileEntry& old_entry,
                                        const DatFileEntry& new_entry) {
  std::vector<const char*> fields;
  if (old_entry.bit_flags != new_entry.bit_flags) fields.push_back("bit_flags");
  if (old_entry.size != new_entry.size) fields.push_back("size");
  if (old_entry.timestamp != new_entry.timestamp) fields.push_back("timestamp");
  if (old_entry.version != new_entry.version) fields.push_back("version");
  return fields;
}

// A file's contents on both sides. One that cannot be read on either side
// counts as differing, since it cannot be shown the same; its errors are
// reported.
struct ContentComparison {
  bool differ = false;
  std::vector<std::string> errors;
};

ContentComparison compare_contents(const DatDatabase& old_db, const DatDatabase& new_db,
                                   std::uint32_t id) {
  // A stream shorter than it declares is damage, not the same contents.
  const auto old_file = old_db.get_file(id, ShortStream::fail);
  const auto new_file = new_db.get_file(id, ShortStream::fail);
  ContentComparison comparison{!old_file || !new_file || *old_file != *new_file, {}};
  if (!old_file)
    comparison.errors.push_back("OLD " + hex_id(id) + ": " + error_text(old_file.error()));
  if (!new_file)
    comparison.errors.push_back("NEW " + hex_id(id) + ": " + error_text(new_file.error()));
  return comparison;
}

}  // namespace

ExitStatus run_diff(const DiffOptions& options) {
  const Opening opening{.refuse_foreign = !options.any_header};
  const auto old_db = open_archive(options.old_archive, opening);
  if (!old_db) return ExitStatus::Failure;
  const auto new_db = open_archive(options.new_archive, opening);
  if (!new_db) return ExitStatus::Failure;

  const auto old_entries = sorted_entries(*old_db);
  if (!old_entries) return ExitStatus::Failure;
  const auto new_entries = sorted_entries(*new_db);
  if (!new_entries) return ExitStatus::Failure;
  const auto entry_in = [](const std::vector<DatFileEntry>& sorted,
                           std::uint32_t id) -> const DatFileEntry* {
    const auto found = std::ranges::lower_bound(sorted, id, {}, &DatFileEntry::id);
    return found != sorted.end() && found->id == id ? &*found : nullptr;
  };

  std::map<std::uint32_t, Difference> differences;
  std::vector<std::uint32_t> in_both;
  for (const DatFileEntry& old_entry : *old_entries) {
    const DatFileEntry* new_entry = entry_in(*new_entries, old_entry.id);
    if (!new_entry) {
      differences[old_entry.id] = {Change::Removed};
      continue;
    }
    in_both.push_back(old_entry.id);
    if (auto fields = changed_fields(old_entry, *new_entry); !fields.empty()) {
      differences[old_entry.id] = {Change::Changed, std::move(fields)};
    }
  }
  for (const DatFileEntry& new_entry : *new_entries) {
    if (!entry_in(*old_entries, new_entry.id)) differences[new_entry.id] = {Change::Added};
  }

  if (!options.entries_only) {
    std::vector<ContentComparison> comparisons(in_both.size());
    for_each_index(in_both.size(), options.threads, [&](std::size_t i) {
      comparisons[i] = compare_contents(*old_db, *new_db, in_both[i]);
    });
    for (std::size_t i = 0; i < in_both.size(); ++i) {
      for (const std::string& error : comparisons[i].errors) report_error(error);
      if (!comparisons[i].differ) continue;
      Difference& difference = differences[in_both[i]];
      difference.change = Change::Changed;
      difference.content = true;
    }
  }

  if (options.json) {
    Json added = Json::array(), removed = Json::array(), changed = Json::array();
    for (const auto& [id, difference] : differences) {
      if (difference.change == Change::Added) added.push_back(id);
      if (difference.change == Change::Removed) removed.push_back(id);
      if (difference.change == Change::Changed) {
        changed.push_back(
            {{"id", id}, {"fields", difference.fields}, {"content", difference.content}});
      }
    }
    const Json document = {{"added", added}, {"removed", removed}, {"changed", changed}};
    return deliver(json_text(document),
                   differences.empty() ? ExitStatus::Success : ExitStatus::Problems);
  }

  std::string out;
  for (const auto& [id, difference] : differences) {
    switch (difference.change) {
      case Change::Added:
        out += "+ " + hex_id(id) + "\n";
        break;
      case Change::Removed:
        out += "- " + hex_id(id) + "\n";
        break;
      case Change::Changed: {
        std::string fields;
        for (const char* field : difference.fields)
          fields += std::string(fields.empty() ? "" : ",") + field;
        if (difference.content) fields += fields.empty() ? "content" : ",content";
        out += "~ " + hex_id(id) + " " + fields + "\n";
        break;
      }
    }
  }
  return deliver(out, differences.empty() ? ExitStatus::Success : ExitStatus::Problems);
}

}  // namespace brackwater_dat::cli
