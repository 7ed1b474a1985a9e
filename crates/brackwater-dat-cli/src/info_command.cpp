#include "info_command.hpp"

#include <map>
#include <vector>

#include "archive.hpp"
#include "json_output.hpp"
#include "text_format.hpp"

namespace brackwater_dat::cli {
namespace {

// A header field as both outputs show it.
struct Field {
  const char* name;
  Json json;
  std::string text;
};

Field number(const char* name, std::uint32_t value) { return {name, value, std::to_string(value)}; }

// Offsets and ids read as hex in text; JSON keeps every number a number.
Field hex_number(const char* name, std::uint32_t value) { return {name, value, hex_id(value)}; }

std::vector<Field> header_fields(const DatHeader& h) {
  const std::string version = format_hex_bytes(h.version_string);
  return {hex_number("magic", h.magic),
          number("block_size", h.block_size),
          number("file_size", h.file_size),
          number("dataset", h.dataset),
          number("subset", h.subset),
          hex_number("free_head", h.free_head),
          hex_number("free_tail", h.free_tail),
          number("free_count", h.free_count),
          hex_number("root_offset", h.root_offset),
          hex_number("new_lru", h.new_lru),
          hex_number("old_lru", h.old_lru),
          hex_number("use_lru", h.use_lru),
          hex_number("master_map_id", h.master_map_id),
          number("engine_version", h.engine_version),
          number("game_version", h.game_version),
          {"version_string", version, version},
          number("version_minor", h.version_minor)};
}

}  // namespace

ExitStatus run_info(const InfoOptions& options) {
  // On demand, so that the header and its problems show even where the
  // directory cannot be read; entries() walks it whole all the same.
  const auto db = open_archive(options.archive,
                               {.loading = DirectoryLoading::on_demand, .refuse_foreign = false});
  if (!db) return ExitStatus::Failure;
  const std::uint64_t length = db->length();
  // Shown, not refused: info is where a person looks at what the file holds.
  std::vector<std::string> problems = check_header(db->header(), length);
  const auto entries = db->entries();
  if (!entries) problems.push_back(open_failure_text(options.archive, entries.error()));
  std::uint64_t compressed = 0, stored_bytes = 0;
  std::map<std::uint8_t, std::uint64_t> types;
  for (const DatFileEntry& entry : entries ? *entries : std::vector<DatFileEntry>{}) {
    compressed += is_compressed(entry);
    stored_bytes += entry.size;
    ++types[file_type_of(entry.id)];
  }
  const std::vector<Field> fields = header_fields(db->header());
  const ExitStatus status = problems.empty() ? ExitStatus::Success : ExitStatus::Problems;

  if (options.json) {
    Json header = Json::object();
    for (const Field& field : fields) header[field.name] = field.json;
    Json type_counts = Json::object();
    for (const auto& [type, count] : types) type_counts["0x" + format_type(type)] = count;
    // Counts of a directory that cannot be read are null, not 0.
    const auto count = [&](std::uint64_t value) { return entries ? Json(value) : Json(nullptr); };
    const Json document = {{"path", options.archive},
                           {"length", length},
                           {"header", header},
                           {"files", count(entries ? entries->size() : 0)},
                           {"compressed", count(compressed)},
                           {"stored_bytes", count(stored_bytes)},
                           {"types", entries ? type_counts : Json(nullptr)},
                           {"problems", problems}};
    return deliver(json_text(document), status);
  }

  std::string out =
      "path: " + shown_path(options.archive) + "\nlength: " + std::to_string(length) + "\n";
  for (const Field& field : fields) out += std::string(field.name) + ": " + field.text + "\n";
  if (entries) {
    out += "files: " + std::to_string(entries->size()) +
           "\ncompressed: " + std::to_string(compressed) +
           "\nstored_bytes: " + std::to_string(stored_bytes) + "\n";
    for (const auto& [type, count] : types) {
      out += "type " + format_type(type) + ": " + std::to_string(count) + "\n";
    }
  }
  for (const std::string& problem : problems) out += "problem: " + problem + "\n";
  return deliver(out, status);
}

}  // namespace brackwater_dat::cli
