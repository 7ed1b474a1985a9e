#pragma once

#include <brackwater_dat/archive_writer.hpp>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "folder.hpp"
#include "output.hpp"
#include "progress.hpp"

namespace brackwater_dat::cli {

// The archive that create and repack write: the library's writer commits it
// under a temporary name beside OUT, and only a whole archive, written
// without interruption, is renamed to OUT. Whatever is left when this goes
// is removed.
class ArchiveOutput {
 public:
  // Refuses an OUT that exists unless `force`; none after reporting why.
  static std::optional<ArchiveOutput> open(const std::string& out, bool force);
  ArchiveOutput(ArchiveOutput&&) noexcept = default;
  ~ArchiveOutput();

  // Where the writer is to commit.
  std::string temporary_path() const;
  // Renames the committed archive to OUT; false after reporting why.
  bool publish();
  // OUT as given.
  const std::string& out() const noexcept { return out_; }

 private:
  ArchiveOutput(Folder folder, std::string out, std::string name, std::string temporary, bool force)
      : folder_(std::move(folder)),
        out_(std::move(out)),
        name_(std::move(name)),
        temporary_(std::move(temporary)),
        force_(force) {}

  Folder folder_;
  std::string out_;        // as given
  std::string name_;       // OUT's name in its folder
  std::string temporary_;  // the writer's name in the folder; empty once published
  bool force_;
};

// OUT, and the library's writer committing under its temporary name; none
// after reporting why either cannot be had.
struct ArchiveTarget {
  static std::optional<ArchiveTarget> open(const std::string& out, bool force,
                                           WriterOptions options);
  ArchiveOutput output;
  ArchiveWriter writer;
};

// The whole contents of the file at `path`; none when it cannot be read.
std::optional<Bytes> read_whole_file(const std::filesystem::path& path);

// What --compress names: store, fast, best or smaller (and keep, for repack: none).
std::optional<Compression> parse_compression(const std::string& text);

// Commits what `writer` was given and renames it to OUT, unless SIGINT or
// SIGTERM came first (then nothing is at OUT, and the status says which);
// then the one-line summary, or its JSON: files, bytes stored, bytes before
// compression and the archive's length, read back from the archive.
ExitStatus finish_writing(ArchiveTarget& target, Progress& progress, const std::string& verb,
                          std::uint64_t original_bytes, bool json);

}  // namespace brackwater_dat::cli
