#include "repack_command.hpp"

#include <algorithm>
#include <filesystem>
#include <map>

#include "archive.hpp"
#include "archive_output.hpp"
#include "interruption.hpp"
#include "process.hpp"
#include "progress.hpp"
#include "text_format.hpp"

namespace brackwater_dat::cli {
namespace {

// What becomes of each id: INPUT's file kept (as stored or recompressed),
// or a file's contents put in its place.
struct Source {
  std::optional<DatFileEntry> entry;  // INPUT's
  std::optional<std::string> put;     // the file to put instead
};

bool same_file(const std::string& a, const std::string& b) {
  std::error_code error;
  return std::filesystem::equivalent(path_of(a), path_of(b), error);
}

}  // namespace

ExitStatus run_repack(const RepackOptions& options) {
  if (same_file(options.input, options.archive)) {
    report_error(shown_path(options.archive) + " is the archive being repacked; name another");
    return ExitStatus::Failure;
  }
  const auto db = open_archive(options.input);
  if (!db) return ExitStatus::Failure;
  const auto entries = sorted_entries(*db);
  if (!entries) return ExitStatus::Failure;
  std::map<std::uint32_t, Source> sources;
  for (const DatFileEntry& entry : *entries) sources[entry.id].entry = entry;
  for (const std::uint32_t id : options.removes) {
    if (sources.erase(id) == 0) {
      report_error("cannot remove " + hex_id(id) + ": no such file in " +
                   shown_path(options.input));
      return ExitStatus::Failure;
    }
  }
  for (const auto& [id, file] : options.puts) sources[id].put = file;

  // keep: INPUT's stored bytes as they are, and put files as small as they get.
  const bool keep = !options.compress || *options.compress == "keep";
  const Compression recompress =
      keep ? Compression::smaller : *parse_compression(*options.compress);
  WriterOptions writer_options;
  writer_options.header = db->header();
  writer_options.block_size = options.block_size.value_or(db->header().block_size);

  const Interruption interruption;
  auto target = ArchiveTarget::open(options.archive, options.force, writer_options);
  if (!target) return ExitStatus::Failure;

  std::uint64_t total = 0;
  for (const auto& [id, source] : sources) total += source.entry ? source.entry->size : 0;
  Progress progress("repack", sources.size(), total, progress_shown(options.progress));
  std::vector<std::string> unreadable;  // why, a line per file
  std::uint64_t original = 0;
  for (const auto& [id, source] : sources) {
    if (Interruption::signal() != 0) break;
    Result<void> added;
    if (source.put) {
      const auto read = read_whole_file(path_of(*source.put));
      if (!read) {
        report_error("cannot read " + shown_path(*source.put));
        return ExitStatus::Failure;
      }
      const Bytes& bytes = *read;
      const DatFileEntry kept = source.entry.value_or(DatFileEntry{0, id, 0, 0, 0, 0});
      added = target->writer.add(id, bytes, recompress, kept.timestamp, kept.version);
      original += bytes.size();
    } else if (keep) {
      auto stored = db->read_stored(id);
      auto length = stored ? db->file_size(id) : std::unexpected(stored.error());
      if (!length) {
        unreadable.push_back(hex_id(id) + ": " + error_text(length.error()));
        continue;
      }
      added = target->writer.add_stored(*source.entry, *stored);
      original += *length;
    } else {
      auto contents = db->get_file(id);
      if (!contents) {
        unreadable.push_back(hex_id(id) + ": " + error_text(contents.error()));
        continue;
      }
      added = target->writer.add(id, *contents, recompress, source.entry->timestamp,
                                 source.entry->version);
      original += contents->size();
    }
    if (!added) {
      report_error(hex_id(id) + ": " + error_text(added.error()));
      return ExitStatus::Failure;
    }
    progress.advance(source.entry ? source.entry->size : 0);
  }
  if (!unreadable.empty()) {
    for (const std::string& why : unreadable) {
      report_error((options.skip_unreadable ? "skipping " : "cannot read ") + why);
    }
    if (!options.skip_unreadable) {
      progress.finish();
      report_error(counted(unreadable.size(), "file") + " cannot be read; nothing written " +
                   "(--skip-unreadable leaves them out)");
      return ExitStatus::Failure;
    }
  }
  return finish_writing(*target, progress, "repacked", original, options.json);
}

}  // namespace brackwater_dat::cli
