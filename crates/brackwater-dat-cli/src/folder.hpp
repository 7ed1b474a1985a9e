#pragma once

#include <brackwater_dat/error.hpp>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <string>
#include <string_view>

// Folders held open and the few operations on names inside them that
// extracting needs, none of which follows a link inside them. One
// implementation per platform: folder_posix.cpp (names taken relative to an
// open descriptor), folder_windows.cpp (handles that keep each folder from
// being moved or replaced while it is open).
namespace brackwater_dat::cli {

// Why an operation on a name failed: the name is taken; a link (a symbolic
// link, or on Windows any reparse point: a symbolic link or a junction) is
// in the way; or another error.
struct FolderError {
  enum class Kind { Exists, Link, Other } kind;
  IoError error;
};

// What a link is called in messages on this platform.
extern const std::string_view kLinkName;

// A file being written, closed when this goes.
class NewFile {
 public:
  explicit NewFile(std::intptr_t handle) noexcept : handle_(handle) {}
  NewFile(NewFile&& other) noexcept;
  NewFile& operator=(NewFile&&) = delete;
  ~NewFile();

  // Writes all of `data`, continuing short and interrupted writes.
  std::expected<void, IoError> write(std::string_view data);
  std::expected<void, IoError> close();

 private:
  std::intptr_t handle_;  // a descriptor, or a Windows handle; -1 once closed
};

class Folder {
 public:
  // Makes the folder at `path` and its parents, where missing.
  static std::expected<void, IoError> make(const std::filesystem::path& path);
  // Opens the folder at `path`, which may lead through links: the person named it.
  static std::expected<Folder, IoError> open(const std::filesystem::path& path);
  Folder(Folder&& other) noexcept;
  Folder& operator=(Folder&&) = delete;
  ~Folder();

  // The folder `name` in this one, made when missing. A link there is
  // FolderError::Link; anything else but a folder, FolderError::Other.
  std::expected<Folder, FolderError> subfolder(const std::string& name) const;
  // Whether anything, a link included, has the name `name`.
  bool has(const std::string& name) const;
  // A new file `name`; FolderError::Exists when anything has that name.
  std::expected<NewFile, FolderError> create(const std::string& name) const;
  void remove(const std::string& name) const;
  // Renames `from` to `to`. Unless `replace`, a name already taken is
  // FolderError::Exists; replacing, a link at `to` is replaced itself, never
  // written through (on Windows, refused: FolderError::Link).
  std::expected<void, FolderError> rename(const std::string& from, const std::string& to,
                                          bool replace) const;

 private:
  Folder(std::intptr_t handle, std::filesystem::path path) noexcept
      : handle_(handle), path_(std::move(path)) {}

  std::intptr_t handle_;        // a descriptor, or a Windows handle
  std::filesystem::path path_;  // Windows: the folder's own path, links resolved
};

}  // namespace brackwater_dat::cli
