#include "create_command.hpp"

#include <algorithm>
#include <filesystem>
#include <vector>

#include "archive.hpp"
#include "archive_output.hpp"
#include "ids.hpp"
#include "interruption.hpp"
#include "process.hpp"
#include "progress.hpp"
#include "text_format.hpp"

namespace brackwater_dat::cli {
namespace {

struct FolderFile {
  std::uint32_t id;
  std::filesystem::path path;
  std::uint64_t size;
};

bool upper_hex(std::string_view text) {
  return std::ranges::all_of(
      text, [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
}

// The files of `root` in extract's layout, sorted by id; the names of
// everything else there go to `strays`.
std::vector<FolderFile> folder_files(const std::filesystem::path& root,
                                     std::vector<std::string>& strays, std::error_code& error) {
  std::vector<FolderFile> files;
  for (const auto& type : std::filesystem::directory_iterator(root, error)) {
    const std::string type_name = type.path().filename().string();
    if (!type.is_directory() || type_name.size() != 2 || !upper_hex(type_name)) {
      strays.push_back(type_name);
      continue;
    }
    for (const auto& file : std::filesystem::directory_iterator(type.path(), error)) {
      const std::string name = file.path().filename().string();
      const std::string shown = type_name + "/" + name;
      const bool named = name.size() == 12 && name.ends_with(".bin") &&
                         upper_hex(name.substr(0, 8)) && name.starts_with(type_name);
      if (!named || !file.is_regular_file()) {
        strays.push_back(shown);
        continue;
      }
      files.push_back({*parse_id("0x" + name.substr(0, 8)), file.path(), file.file_size()});
    }
    if (error) return files;
  }
  std::ranges::sort(files, {}, &FolderFile::id);
  return files;
}

}  // namespace

ExitStatus run_create(const CreateOptions& options) {
  std::vector<std::string> strays;
  std::error_code error;
  const std::vector<FolderFile> files = folder_files(path_of(options.folder), strays, error);
  if (error) {
    report_error("cannot read folder " + shown_path(options.folder) + ": " + error.message());
    return ExitStatus::Failure;
  }
  if (!strays.empty()) {
    std::ranges::sort(strays);
    for (const std::string& stray : strays) {
      report_error(shown_path(options.folder + "/" + stray) +
                   " is not a file as extract writes them, TT/XXXXXXXX.bin");
    }
    return ExitStatus::Failure;
  }

  std::optional<DatDatabase> like;
  if (!options.like.empty() && !(like = open_archive(options.like))) return ExitStatus::Failure;
  const std::optional<Compression> asked =
      options.compress ? parse_compression(*options.compress) : Compression::store;
  WriterOptions writer_options;
  if (like) {
    writer_options.header = like->header();
    writer_options.block_size = like->header().block_size;
  }
  if (options.block_size) writer_options.block_size = *options.block_size;

  const Interruption interruption;
  auto target = ArchiveTarget::open(options.archive, options.force, writer_options);
  if (!target) return ExitStatus::Failure;

  std::uint64_t total = 0;
  for (const FolderFile& file : files) total += file.size;
  Progress progress("create", files.size(), total, progress_shown(options.progress));
  std::uint64_t original = 0;
  for (const FolderFile& file : files) {
    if (Interruption::signal() != 0) break;
    const auto bytes = read_whole_file(file.path);
    if (!bytes) {
      report_error("cannot read " + shown_path(file.path.string()));
      return ExitStatus::Failure;
    }
    Compression compression = asked.value_or(Compression::store);
    std::uint32_t timestamp = 0, version = 0;
    if (const auto entry = like ? std::optional(like->find(file.id)) : std::nullopt;
        entry && *entry) {
      timestamp = (*entry)->timestamp;
      version = (*entry)->version;
      if (!options.compress) {
        compression = is_compressed(**entry) ? Compression::lrs_fast : Compression::store;
      }
    }
    if (auto added = target->writer.add(file.id, *bytes, compression, timestamp, version); !added) {
      report_error(hex_id(file.id) + ": " + error_text(added.error()));
      return ExitStatus::Failure;
    }
    original += bytes->size();
    progress.advance(bytes->size());
  }
  return finish_writing(*target, progress, "created", original, options.json);
}

}  // namespace brackwater_dat::cli
