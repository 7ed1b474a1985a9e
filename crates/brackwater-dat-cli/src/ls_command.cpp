#include "ls_command.hpp"

#include "archive.hpp"
#include "json_output.hpp"
#include "text_format.hpp"

namespace brackwater_dat::cli {
namespace {

// What a compressed file decompresses to, from its length prefix (one small
// read); a stored file's size; none where the prefix cannot be read.
std::optional<std::uint32_t> decompressed_size(const DatDatabase& db, const DatFileEntry& e) {
  if (!is_compressed(e)) return e.size;
  const auto size = db.file_size(e.id);
  return size ? std::optional(*size) : std::nullopt;
}

}  // namespace

ExitStatus run_ls(const LsOptions& options) {
  const auto db = open_archive(options.archive, {.refuse_foreign = !options.any_header});
  if (!db) return ExitStatus::Failure;
  const auto listed = sorted_entries(*db, options.type);
  if (!listed) return ExitStatus::Failure;
  const std::vector<DatFileEntry>& entries = *listed;

  if (options.json) {
    Json document = Json::array();
    for (const DatFileEntry& e : entries) {
      Json entry = {{"id", e.id},
                    {"type", file_type_of(e.id)},
                    {"bit_flags", e.bit_flags},
                    {"compressed", is_compressed(e)},
                    {"offset", e.offset},
                    {"size", e.size},
                    {"timestamp", e.timestamp},
                    {"version", e.version}};
      if (options.long_format) {
        const auto size = decompressed_size(*db, e);
        entry["decompressed_size"] = size ? Json(*size) : Json(nullptr);
      }
      document.push_back(std::move(entry));
    }
    return deliver(json_text(document), ExitStatus::Success);
  }

  std::string out;
  if (options.long_format) {
    out += pad_right("ID", 10) + "  TT  " + pad_right("STORAGE", 10) + "  " + pad_left("SIZE", 10) +
           "  " + pad_left("DECOMPRESSED", 12) + "  " + pad_right("OFFSET", 10) + "  " +
           pad_right("TIME", 20) + "  VERSION\n";
  }
  for (const DatFileEntry& e : entries) {
    out += hex_id(e.id) + "  " + format_type(file_type_of(e.id)) + "  " +
           pad_right(is_compressed(e) ? "compressed" : "stored", 10) + "  " +
           pad_left(std::to_string(e.size), 10) + "  ";
    if (options.long_format) {
      const auto size = decompressed_size(*db, e);
      out += pad_left(size ? std::to_string(*size) : "?", 12) + "  " + hex_id(e.offset) + "  " +
             format_time(e.timestamp) + "  " + std::to_string(e.version) + "\n";
    } else {
      out += hex_id(e.offset) + "  " + pad_left(std::to_string(e.timestamp), 10) + "  " +
             std::to_string(e.version) + "\n";
    }
  }
  return deliver(out, ExitStatus::Success);
}

}  // namespace brackwater_dat::cli
