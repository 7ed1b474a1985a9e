#include "verify_command.hpp"

#include <brackwater_dat/utils.hpp>
#include <vector>

#include "archive.hpp"
#include "chain_layout.hpp"
#include "json_output.hpp"
#include "parallel.hpp"
#include "progress.hpp"
#include "text_format.hpp"

namespace brackwater_dat::cli {
namespace {

// What one file's reading found; a problem is its detail text.
struct FileCheck {
  std::optional<std::string> read_error;
  std::optional<std::string> short_stream;
  std::optional<std::string> early_end;
};

// A compressed payload begins with the length it decompresses to; the decoder
// stops quietly where the stream ends, so only a checker sees the shortfall.
void check_stream(ByteView stored, FileCheck& check) {
  if (stored.size() < 4) {
    check.short_stream = "no length prefix in " + std::to_string(stored.size()) + " stored bytes";
    return;
  }
  const std::uint32_t declared = std::uint32_t{stored[0]} | std::uint32_t{stored[1]} << 8 |
                                 std::uint32_t{stored[2]} << 16 | std::uint32_t{stored[3]} << 24;
  const auto decoded = utils::try_decompress_lrs(stored);
  if (!decoded) {
    check.read_error = display_text(io_failure(decoded.error()));
  } else if (decoded->size() < declared) {
    check.short_stream = "declares " + std::to_string(declared) + " bytes, the stream yields " +
                         std::to_string(decoded->size());
  }
}

FileCheck check_file(const DatDatabase& db, const DatFileEntry& entry) {
  FileCheck check;
  const auto read = db.read_chain(entry.offset, entry.size);
  if (!read) {
    check.read_error = display_text(read.error());
    return check;
  }
  if (read->ended_early) {
    const auto& last = read->blocks.back();
    check.early_end = "the chain ends at block " + hex_id(last.offset) + " with " +
                      std::to_string(last.bytes) + " bytes still to read, more than its " +
                      std::to_string(db.header().block_size - 4);
  }
  if (is_compressed(entry)) check_stream(read->data, check);
  return check;
}

}  // namespace

ExitStatus run_verify(const VerifyOptions& options) {
  const auto db = open_archive(options.archive);
  if (!db) return ExitStatus::Failure;
  const auto listed = sorted_entries(*db);
  if (!listed) return ExitStatus::Failure;
  const std::vector<DatFileEntry>& entries = *listed;
  std::uint64_t total_bytes = 0;
  for (const DatFileEntry& entry : entries) total_bytes += entry.size;

  Json problems = Json::array();
  std::string out;
  // A header that is not an archive's makes every file suspect: it comes first.
  for (const std::string& detail : check_header(db->header(), db->length())) {
    problems.push_back({{"id", nullptr}, {"problem", "header"}, {"detail", detail}});
    out += "header: " + detail + "\n";
  }

  // The links first: a chain that comes back to a block walked before is
  // not read, which would read those blocks again for as long as its size
  // lasts.
  const std::vector<ChainLayout> layouts = chain_layouts(*db, entries);
  Progress progress("verify", entries.size(), total_bytes, progress_shown(options.progress));
  std::vector<FileCheck> checks(entries.size());
  for_each_index(entries.size(), default_threads(), [&](std::size_t i) {
    if (!layouts[i].stopped) checks[i] = check_file(*db, entries[i]);
    progress.advance(entries[i].size);
  });
  progress.finish();

  // The directory as a search tree, which lookups on demand rely on.
  const auto order = db->directory_order_problems();
  if (!order) {
    report_error(display_text(order.error()));
    return ExitStatus::Failure;
  }

  for (const DirectoryOrderProblem& problem : *order) {
    const std::string detail = "directory node at " + hex_id(problem.node) + ": " + problem.detail;
    problems.push_back({{"id", nullptr}, {"problem", "directory_order"}, {"detail", detail}});
    out += "directory_order: " + detail + "\n";
  }
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const FileCheck& check = checks[i];
    const ChainLayout& layout = layouts[i];
    const std::optional<std::string> shared =
        layout.shared ? std::optional(layout.shared_text(entries)) : std::nullopt;
    const std::optional<std::string> loop =
        layout.loop ? std::optional(layout.loop_text()) : std::nullopt;
    for (const auto& [name, detail] :
         {std::pair{"read_error", &check.read_error},
          std::pair{"short_stream", &check.short_stream}, std::pair{"shared_block", &shared},
          std::pair{"chain_loop", &loop}, std::pair{"early_end", &check.early_end}}) {
      if (!*detail) continue;
      problems.push_back({{"id", entries[i].id}, {"problem", name}, {"detail", **detail}});
      out += hex_id(entries[i].id) + " " + name + ": " + **detail + "\n";
    }
  }
  const ExitStatus status = problems.empty() ? ExitStatus::Success : ExitStatus::Problems;
  if (options.json) {
    return deliver(json_text({{"files", entries.size()}, {"problems", problems}}), status);
  }
  out += "verified " + std::to_string(entries.size()) +
         " files: " + std::to_string(problems.size()) + " problems\n";
  return deliver(out, status);
}

}  // namespace brackwater_dat::cli
