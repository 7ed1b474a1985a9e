#include "verify_command.hpp"

#include <brackwater_dat/http_source.hpp>
#include <brackwater_dat/utils.hpp>
#include <vector>

#include "archive.hpp"
#include "chain_layout.hpp"
#include "json_output.hpp"
#include "parallel.hpp"
#include "process.hpp"
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
  const auto decoded = utils::try_decompress_lrs(stored);
  if (!decoded) {
    check.read_error = error_text(io_failure(decoded.error()));
    return;
  }
  check.short_stream = utils::lrs_shortfall(stored, decoded->size());
}

FileCheck check_file(const DatDatabase& db, const DatFileEntry& entry) {
  FileCheck check;
  const auto read = db.read_chain(entry.offset, entry.size);
  if (!read) {
    check.read_error = error_text(read.error());
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

// What verify found: each problem in JSON and as a line of text.
struct Findings {
  Json problems = Json::array();
  std::string out;

  void add(std::optional<std::uint32_t> id, const char* problem, const std::string& detail) {
    problems.push_back(
        {{"id", id ? Json(*id) : Json(nullptr)}, {"problem", problem}, {"detail", detail}});
    out += (id ? hex_id(*id) + " " : std::string()) + problem + ": " + detail + "\n";
  }

  ExitStatus deliver_all(std::size_t files, bool json) {
    const ExitStatus status = problems.empty() ? ExitStatus::Success : ExitStatus::Problems;
    if (json) return deliver(json_text({{"files", files}, {"problems", problems}}), status);
    out += "verified " + counted(files, "file") + ": " + counted(problems.size(), "problem") + "\n";
    return deliver(out, status);
  }
};

// A read that ran out of archive: the archive is shorter than it says.
bool cut_short(const DatError& error) {
  if (const auto* io = std::get_if<DatError::Io>(&error.value)) {
    return io->error.kind() == IoErrorKind::UnexpectedEof;
  }
  const auto* parse = std::get_if<DatError::BinRead>(&error.value);
  return parse && parse->error.cause().kind() == IoErrorKind::UnexpectedEof;
}

}  // namespace

ExitStatus run_verify(const VerifyOptions& options) {
  Findings findings;
  // The header alone first: an archive cut short or a directory that cannot
  // be read is what verify is there to report, not a failure to run.
  const auto db = open_database(options.archive, DirectoryLoading::on_demand);
  if (!db) {
    if (error_code(db.error()) == ErrorCode::path_error) {
      report_error(open_failure_text(options.archive, db.error()));
      return ExitStatus::Failure;
    }
    findings.add(std::nullopt, "truncated", open_failure_text(options.archive, db.error()));
    return findings.deliver_all(0, options.json);
  }
  // A header that is not an archive's makes every file suspect: it comes first.
  for (const std::string& detail : check_header(db->header(), db->length())) {
    findings.add(std::nullopt, "header", detail);
  }
  const auto listed = db->entries();
  if (!listed) {
    findings.add(std::nullopt, cut_short(listed.error()) ? "truncated" : "directory",
                 open_failure_text(options.archive, listed.error()));
    return findings.deliver_all(0, options.json);
  }
  const std::vector<DatFileEntry>& entries = *listed;
  std::uint64_t total_bytes = 0;
  for (const DatFileEntry& entry : entries) total_bytes += entry.size;

  // The links first: a chain that comes back to a block walked before is
  // not read, which would read those blocks again for as long as its size
  // lasts.
  const std::vector<ChainLayout> layouts = chain_layouts(*db, entries);
  Progress progress("verify", entries.size(), total_bytes, progress_shown(options.progress));
  std::vector<FileCheck> checks(entries.size());
  for_each_index(entries.size(), default_threads(is_http_url(options.archive)), [&](std::size_t i) {
    if (!layouts[i].stopped) checks[i] = check_file(*db, entries[i]);
    progress.advance(entries[i].size);
  });
  progress.finish();

  // The directory as a search tree, which lookups on demand rely on.
  const auto order = db->directory_order_problems();
  if (!order) {
    report_error(error_text(order.error()));
    return ExitStatus::Failure;
  }

  for (const DirectoryOrderProblem& problem : *order) {
    findings.add(std::nullopt, "directory_order",
                 "directory node at " + hex_id(problem.node) + ": " + problem.detail);
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
      if (*detail) findings.add(entries[i].id, name, **detail);
    }
  }
  return findings.deliver_all(entries.size(), options.json);
}

}  // namespace brackwater_dat::cli
