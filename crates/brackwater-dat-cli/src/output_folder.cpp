#include "output_folder.hpp"

#include <algorithm>
#include <atomic>
#include <brackwater_dat/error.hpp>
#include <filesystem>
#include <optional>
#include <utility>

#include "interruption.hpp"
#include "process.hpp"
#include "text_format.hpp"

namespace brackwater_dat::cli {
namespace {

// Distinct temporary names among this process's threads; creating them only
// when new settles the rest.
std::atomic<unsigned long> temporary_serial{0};

}  // namespace

std::expected<OutputFolder, std::string> OutputFolder::open(const std::string& path) {
  const std::filesystem::path where = path_of(path);
  if (auto made = Folder::make(where); !made) {
    return std::unexpected("cannot make folder " + shown_path(path) + ": " +
                           display_text(made.error()));
  }
  auto folder = Folder::open(where);
  if (!folder) {
    return std::unexpected("cannot open folder " + shown_path(path) + ": " +
                           display_text(folder.error()));
  }
  return OutputFolder(std::move(*folder), path);
}

std::string OutputFolder::child_path(std::string_view name) const {
  std::string path = path_;
  // Messages join names with / on every platform, as Windows also reads them.
  if (!path.ends_with('/')) path += '/';
  return path.append(name);
}

std::string OutputFolder::shown_child(std::string_view name) const {
  return shown_path(child_path(name));
}

std::expected<OutputFolder, std::string> OutputFolder::subfolder(std::string_view name) const {
  auto folder = folder_.subfolder(std::string(name));
  if (folder) return OutputFolder(std::move(*folder), child_path(name));
  if (folder.error().kind == FolderError::Kind::Link) {
    return std::unexpected("refusing folder " + shown_child(name) + ": it is " +
                           std::string(kLinkName));
  }
  return std::unexpected("cannot open folder " + shown_child(name) + ": " +
                         display_text(folder.error().error));
}

OutputFolder::WriteError OutputFolder::taken(std::string_view name) const {
  return {WriteError::Kind::Exists, shown_child(name) + " exists; use --force to overwrite it"};
}

std::expected<std::uint64_t, OutputFolder::WriteError> OutputFolder::write_file(
    std::string_view name, bool replace, const Contents& contents) const {
  if (!replace && folder_.has(std::string(name))) return std::unexpected(taken(name));
  const auto bytes = contents();
  if (!bytes) return std::unexpected(WriteError{WriteError::Kind::Unreadable, bytes.error()});
  static const std::string process = std::to_string(process_id());
  std::string temporary;
  std::optional<NewFile> file;
  while (!file) {
    temporary =
        "." + std::string(name) + ".partial-" + process + "-" + std::to_string(temporary_serial++);
    auto created = folder_.create(temporary);
    if (created) {
      file.emplace(std::move(*created));
    } else if (created.error().kind != FolderError::Kind::Exists) {
      return std::unexpected(
          WriteError{WriteError::Kind::Unwritable, "cannot create a file in " + shown_path(path_) +
                                                       ": " + display_text(created.error().error)});
    }
  }
  // A piece at a time, so that a large file gives way soon to an interruption.
  constexpr std::size_t kPiece = 1 << 20;
  std::string_view left(reinterpret_cast<const char*>(bytes->data()), bytes->size());
  std::expected<void, IoError> written;
  while (written && !left.empty() && Interruption::signal() == 0) {
    written = file->write(left.substr(0, kPiece));
    left.remove_prefix(std::min(kPiece, left.size()));
  }
  if (auto closed = file->close(); !closed && written) written = std::move(closed);
  if (!written || Interruption::signal() != 0) {
    folder_.remove(temporary);
    if (written) {
      return std::unexpected(
          WriteError{WriteError::Kind::Interrupted, shown_child(name) + ": interrupted"});
    }
    return std::unexpected(
        WriteError{WriteError::Kind::Unwritable,
                   "cannot write " + shown_child(name) + ": " + display_text(written.error())});
  }
  if (auto published = publish(temporary, std::string(name), replace); !published) {
    folder_.remove(temporary);
    return std::unexpected(published.error());
  }
  return bytes->size();
}

std::expected<void, OutputFolder::WriteError> OutputFolder::publish(const std::string& temporary,
                                                                    const std::string& name,
                                                                    bool replace) const {
  const auto renamed = folder_.rename(temporary, name, replace);
  if (renamed) return {};
  switch (renamed.error().kind) {
    case FolderError::Kind::Exists:
      return std::unexpected(taken(name));
    case FolderError::Kind::Link:
      return std::unexpected(
          WriteError{WriteError::Kind::Unwritable, "refusing " + shown_child(name) + ": it is " +
                                                       std::string(kLinkName) +
                                                       "; remove it to extract there"});
    case FolderError::Kind::Other:
      break;
  }
  return std::unexpected(
      WriteError{WriteError::Kind::Unwritable,
                 "cannot write " + shown_child(name) + ": " + display_text(renamed.error().error)});
}

}  // namespace brackwater_dat::cli
