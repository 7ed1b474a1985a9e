#include "extract_command.hpp"

#include <algorithm>
#include <atomic>
#include <map>
#include <new>
#include <optional>
#include <vector>

#include "archive.hpp"
#include "chain_layout.hpp"
#include "interruption.hpp"
#include "output_folder.hpp"
#include "parallel.hpp"
#include "progress.hpp"
#include "text_format.hpp"

namespace brackwater_dat::cli {
namespace {

using Failures = std::vector<std::optional<OutputFolder::WriteError>>;

// The type folders the files not failed already go into; a folder that
// cannot be used has its message instead, once for all its files.
using TypeFolders = std::map<std::uint8_t, std::expected<OutputFolder, std::string>>;

TypeFolders type_folders(const OutputFolder& root, const std::vector<DatFileEntry>& entries,
                         const Failures& failures) {
  TypeFolders folders;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::uint8_t type = file_type_of(entries[i].id);
    if (!failures[i] && !folders.contains(type)) {
      folders.emplace(type, root.subfolder(format_type(type)));
    }
  }
  return folders;
}

// Reports the files that were not stored, a kind of failure at a time in the
// order first met: the first few of each kind, then how many more there were.
void report_failures(const Failures& failures) {
  using Kind = OutputFolder::WriteError::Kind;
  constexpr std::size_t kShown = 3;
  std::vector<Kind> order;
  std::map<Kind, std::size_t> counts;
  for (const auto& failure : failures) {
    if (!failure || failure->kind == Kind::Interrupted) continue;
    const std::size_t seen = counts[failure->kind]++;
    if (seen == 0) order.push_back(failure->kind);
    if (seen < kShown) report_error(failure->message);
  }
  for (const Kind kind : order) {
    const std::size_t more = counts[kind] > kShown ? counts[kind] - kShown : 0;
    if (more == 0) continue;
    const std::string files = std::to_string(more) + " more file" + (more == 1 ? "" : "s");
    report_error("... and " + files +
                 (kind == Kind::Exists ? (more == 1 ? " exists" : " exist") +
                                             std::string("; use --force to overwrite them")
                  : kind == Kind::Refused ? std::string(more == 1 ? " shares" : " share") +
                                                " blocks or loops; --allow-shared extracts them"
                  : kind == Kind::Unreadable ? " could not be read"
                                             : " could not be written"));
  }
}

// Files whose chains come back to their own blocks or run into other files'
// (of any type) are refused, as unzip refuses overlapping entries: the
// archive is damaged or built so that a small file extracts to a great many
// bytes. By position in `entries`, of the archive's `all` entries.
Failures refusals(const DatDatabase& db, const std::vector<DatFileEntry>& all,
                  const std::vector<DatFileEntry>& entries) {
  const std::vector<ChainLayout> layouts = chain_layouts(db, all);
  Failures refused(entries.size());
  for (std::size_t i = 0, at = 0; i < entries.size(); ++i) {
    while (all[at].id != entries[i].id) ++at;
    const ChainLayout& layout = layouts[at];
    if (!layout.faulty()) continue;
    refused[i] = OutputFolder::WriteError{
        OutputFolder::WriteError::Kind::Refused,
        "refusing " + hex_id(entries[i].id) + ": " +
            (layout.loop ? layout.loop_text() : layout.shared_text(all)) +
            " (an archive's files have blocks of their own); --allow-shared extracts it"};
  }
  return refused;
}

// The file's bytes (stored or as get_file gives them) in a buffer each thread
// keeps from file to file, valid until its next file. The buffer grows only
// once a read has found the size sound, and a growth that cannot be had is
// an error, not the end of the process.
Result<ByteView> read_into_buffer(const DatDatabase& db, const DatFileEntry& entry, bool raw,
                                  ShortStream short_stream) {
  thread_local Bytes buffer;
  const auto room = [](std::size_t size) -> Result<std::span<std::uint8_t>> {
    if (buffer.size() < size) {
      if (auto grown = try_resize(buffer, size); !grown)
        return std::unexpected(io_failure(grown.error()));
    }
    return std::span(buffer).first(size);
  };
  if (raw) {
    if (auto read = db.read_file_data(entry.offset, entry.size, room); !read) {
      return std::unexpected(read.error());
    }
    return ByteView(buffer.data(), entry.size);
  }
  auto written = db.read_file(entry.id, room, short_stream);
  if (!written) return std::unexpected(written.error());
  return ByteView(buffer.data(), *written);
}

// The files asked for, sorted by id: those of the type given and, when ids
// are given, those ids; none after reporting an id the archive does not hold,
// before anything is written.
std::optional<std::vector<DatFileEntry>> chosen_entries(const DatDatabase& db,
                                                        const std::vector<DatFileEntry>& all,
                                                        const ExtractOptions& options) {
  std::vector<DatFileEntry> entries = of_type(all, options.type);
  if (options.ids.empty()) return entries;
  std::vector<DatFileEntry> chosen;
  for (const TypedId& id : options.ids) {
    const auto found = std::ranges::lower_bound(entries, id.value, {}, &DatFileEntry::id);
    if (found == entries.end() || found->id != id.value) {
      const DatError missing{DatError::NotFound{id.value}};
      report_error(failure_text(db, id, missing) + (options.type && db.find(id.value)
                                                        ? " of type " + format_type(*options.type)
                                                        : std::string()));
      return std::nullopt;
    }
    chosen.push_back(*found);
  }
  std::ranges::sort(chosen, {}, &DatFileEntry::id);
  const auto repeated = std::ranges::unique(chosen, {}, &DatFileEntry::id);
  chosen.erase(repeated.begin(), repeated.end());
  return chosen;
}

}  // namespace

ExitStatus run_extract(const ExtractOptions& options) {
  const auto db = open_archive(options.archive, {.refuse_foreign = !options.any_header});
  if (!db) return ExitStatus::Failure;
  const auto all = sorted_entries(*db);
  if (!all) return ExitStatus::Failure;
  const auto chosen = chosen_entries(*db, *all, options);
  if (!chosen) return ExitStatus::Failure;
  const std::vector<DatFileEntry>& entries = *chosen;
  auto root = OutputFolder::open(options.folder);
  if (!root) {
    report_error(root.error());
    return ExitStatus::Failure;
  }
  const Interruption interruption;
  // Why each file (by position) was not stored: refused at the start, or
  // failed as it was written; none when written or when its type folder failed.
  Failures failures =
      options.allow_shared ? Failures(entries.size()) : refusals(*db, *all, entries);
  const TypeFolders folders = type_folders(*root, entries, failures);

  std::uint64_t total_bytes = 0;
  for (const DatFileEntry& entry : entries) total_bytes += entry.size;
  Progress progress("extract", entries.size(), total_bytes, progress_shown(options.progress),
                    Progress::Counted::Written);
  std::atomic<std::uint64_t> written_files{0}, written_bytes{0}, not_started{0};

  for_each_index(entries.size(), options.threads, [&](std::size_t i) {
    const DatFileEntry& entry = entries[i];
    if (Interruption::signal() != 0) {
      ++not_started;
      return;
    }
    std::optional<std::uint64_t> written;
    if (const auto folder = folders.find(file_type_of(entry.id)); !failures[i] && folder->second) {
      const auto read = [&]() -> std::expected<ByteView, std::string> {
        auto bytes = read_into_buffer(*db, entry, options.raw,
                                      options.partial ? ShortStream::keep : ShortStream::fail);
        if (!bytes) {
          // The file's id in front, unless the library's words name it.
          const std::string text = error_text(bytes.error());
          return std::unexpected(text.find(hex_id(entry.id)) != std::string::npos
                                     ? text
                                     : hex_id(entry.id) + ": " + text);
        }
        return *bytes;
      };
      auto stored =
          folder->second->write_file(hex_id(entry.id).substr(2) + ".bin", options.force, read);
      if (stored) {
        written = *stored;
        ++written_files;
        written_bytes += *stored;
      } else {
        failures[i] = std::move(stored.error());
      }
    }
    progress.advance(entry.size, written);
  });
  progress.finish();

  std::uint64_t failed = 0, interrupted = not_started;
  for (const auto& [type, folder] : folders) {
    if (!folder) report_error(folder.error());
  }
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (failures[i] && failures[i]->kind == OutputFolder::WriteError::Kind::Interrupted) {
      ++interrupted;
    } else {
      failed += failures[i] || !folders.at(file_type_of(entries[i].id));
    }
  }
  report_failures(failures);
  const std::string summary = "extracted " + counted(written_files.load(), "file") + ", " +
                              counted(written_bytes.load(), "byte") + ", " +
                              std::to_string(failed) + " failed\n";
  if (Interruption::signal() != 0) {
    report_error("interrupted; " + counted(interrupted, "file") + " not extracted");
    deliver(summary, ExitStatus::Success);
    return Interruption::status();
  }
  return deliver(summary, failed == 0 ? ExitStatus::Success : ExitStatus::Problems);
}

}  // namespace brackwater_dat::cli
