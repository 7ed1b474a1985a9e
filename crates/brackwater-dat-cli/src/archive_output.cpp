#include "archive_output.hpp"

#include <filesystem>
#include <fstream>

#include "archive.hpp"
#include "interruption.hpp"
#include "json_output.hpp"
#include "process.hpp"
#include "text_format.hpp"

namespace brackwater_dat::cli {

std::optional<ArchiveOutput> ArchiveOutput::open(const std::string& out, bool force) {
  const std::filesystem::path path = path_of(out);
  const std::filesystem::path parent =
      path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
  auto folder = Folder::open(parent);
  if (!folder) {
    report_error("cannot write " + shown_path(out) + ": " + display_text(folder.error()));
    return std::nullopt;
  }
  const std::string name = path.filename().string();
  if (!force && folder->has(name)) {
    report_error(shown_path(out) + " exists; use --force to overwrite it");
    return std::nullopt;
  }
  std::string temporary = "." + name + ".writing-" + std::to_string(process_id());
  return ArchiveOutput(std::move(*folder), out, name, std::move(temporary), force);
}

ArchiveOutput::~ArchiveOutput() {
  if (!temporary_.empty()) folder_.remove(temporary_);
}

std::string ArchiveOutput::temporary_path() const {
  const std::filesystem::path path = path_of(out_);
  return (path.parent_path() / temporary_).string();
}

bool ArchiveOutput::publish() {
  const auto renamed = folder_.rename(temporary_, name_, force_);
  if (!renamed) {
    report_error(renamed.error().kind == FolderError::Kind::Exists
                     ? shown_path(out_) + " exists; use --force to overwrite it"
                     : "cannot write " + shown_path(out_) + ": " +
                           display_text(renamed.error().error));
    return false;
  }
  temporary_.clear();
  return true;
}

std::optional<Bytes> read_whole_file(const std::filesystem::path& path) {
  // A folder opens as a stream on some systems, with no length to read.
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) return std::nullopt;
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return std::nullopt;
  const std::streamoff size = in.tellg();
  if (size < 0) return std::nullopt;
  Bytes bytes(static_cast<std::size_t>(size));
  in.seekg(0);
  // One read of the length found; a file that changed meanwhile is an error.
  if (!in.read(reinterpret_cast<char*>(bytes.data()), size) || in.peek() != EOF)
    return std::nullopt;
  return bytes;
}

std::optional<Compression> parse_compression(const std::string& text) {
  if (text == "store") return Compression::store;
  if (text == "fast") return Compression::lrs_fast;
  if (text == "best") return Compression::lrs_best;
  if (text == "smaller") return Compression::smaller;
  return std::nullopt;
}

std::optional<ArchiveTarget> ArchiveTarget::open(const std::string& out, bool force,
                                                 WriterOptions options) {
  auto output = ArchiveOutput::open(out, force);
  if (!output) return std::nullopt;
  options.overwrite = true;  // the temporary name is this process's own
  auto writer = ArchiveWriter::create(output->temporary_path(), options);
  if (!writer) {
    report_error(error_text(writer.error()));
    return std::nullopt;
  }
  return ArchiveTarget{std::move(*output), std::move(*writer)};
}

ExitStatus finish_writing(ArchiveTarget& target, Progress& progress, const std::string& verb,
                          std::uint64_t original_bytes, bool json) {
  ArchiveWriter& writer = target.writer;
  ArchiveOutput& output = target.output;
  if (Interruption::signal() == 0) {
    if (auto committed = writer.commit(); !committed) {
      report_error(error_text(committed.error()));
      return ExitStatus::Failure;
    }
  }
  progress.finish();
  const std::string& out = output.out();
  if (Interruption::signal() != 0) {
    report_error("interrupted; nothing written to " + shown_path(out));
    return Interruption::status();
  }
  if (!output.publish()) return ExitStatus::Failure;
  const auto db = open_archive(out);
  if (!db) return ExitStatus::Failure;
  std::uint64_t stored = 0;
  for (const auto& [id, entry] : db->directory()) stored += entry.size;
  const std::size_t files = db->directory().size();
  if (json) {
    Json document;
    document["archive"] = out;
    document["files"] = files;
    document["stored_bytes"] = stored;
    document["bytes"] = original_bytes;
    document["archive_bytes"] = db->length();
    return deliver(json_text(document), ExitStatus::Success);
  }
  return deliver(verb + " " + shown_path(out) + ": " + counted(files, "file") + ", " +
                     std::to_string(stored) + " bytes stored, " + std::to_string(original_bytes) +
                     " bytes before compression, " + std::to_string(db->length()) +
                     " bytes in all\n",
                 ExitStatus::Success);
}

}  // namespace brackwater_dat::cli
