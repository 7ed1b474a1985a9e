#include "ls_command.hpp"

#include "archive.hpp"
#include "json_output.hpp"
#include "text_format.hpp"

namespace brackwater_dat::cli {

ExitStatus run_ls(const LsOptions& options) {
  const auto db = open_archive(options.archive);
  if (!db) return ExitStatus::Failure;
  const auto listed = sorted_entries(*db, options.type);
  if (!listed) return ExitStatus::Failure;
  const std::vector<DatFileEntry>& entries = *listed;
  warn_unless_archive(*db, options.archive);

  if (options.json) {
    Json document = Json::array();
    for (const DatFileEntry& e : entries) {
      document.push_back({{"id", e.id},
                          {"type", file_type_of(e.id)},
                          {"bit_flags", e.bit_flags},
                          {"compressed", is_compressed(e)},
                          {"offset", e.offset},
                          {"size", e.size},
                          {"timestamp", e.timestamp},
                          {"version", e.version}});
    }
    return deliver(json_text(document), ExitStatus::Success);
  }

  std::string out;
  for (const DatFileEntry& e : entries) {
    out += hex_id(e.id) + "  " + format_type(file_type_of(e.id)) + "  " +
           pad_right(is_compressed(e) ? "compressed" : "stored", 10) + "  " +
           pad_left(std::to_string(e.size), 10) + "  " + hex_id(e.offset) + "  " +
           pad_left(std::to_string(e.timestamp), 10) + "  " + std::to_string(e.version) + "\n";
  }
  return deliver(out, ExitStatus::Success);
}

}  // namespace brackwater_dat::cli
