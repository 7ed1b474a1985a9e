#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

#include "folder.hpp"

namespace brackwater_dat::cli {
namespace {

IoError last_error() { return IoError::from_os(errno); }

FolderError failure(FolderError::Kind kind) { return FolderError{kind, last_error()}; }

}  // namespace

const std::string_view kLinkName = "a symbolic link";

NewFile::NewFile(NewFile&& other) noexcept : handle_(std::exchange(other.handle_, -1)) {}

NewFile::~NewFile() { (void)close(); }

std::expected<void, IoError> NewFile::write(std::string_view data) {
  while (!data.empty()) {
    const ssize_t written = ::write(static_cast<int>(handle_), data.data(), data.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(last_error());
    }
    data.remove_prefix(static_cast<std::size_t>(written));
  }
  return {};
}

std::expected<void, IoError> NewFile::close() {
  if (handle_ < 0) return {};
  const int status = ::close(static_cast<int>(std::exchange(handle_, -1)));
  if (status != 0) return std::unexpected(last_error());
  return {};
}

std::expected<void, IoError> Folder::make(const std::filesystem::path& path) {
  std::error_code error;
  std::filesystem::create_directories(path, error);
  if (error) return std::unexpected(IoError::from_os(error.value()));
  return {};
}

std::expected<Folder, IoError> Folder::open(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return std::unexpected(last_error());
  return Folder(fd, path);
}

Folder::Folder(Folder&& other) noexcept
    : handle_(std::exchange(other.handle_, -1)), path_(std::move(other.path_)) {}

Folder::~Folder() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

std::expected<Folder, FolderError> Folder::subfolder(const std::string& name) const {
  const int fd = static_cast<int>(handle_);
  if (::mkdirat(fd, name.c_str(), 0777) != 0 && errno != EEXIST) {
    return std::unexpected(failure(FolderError::Kind::Other));
  }
  const int child = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (child >= 0) return Folder(child, path_ / name);
  const FolderError error = failure(FolderError::Kind::Other);
  if (struct stat status{};
      ::fstatat(fd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(status.st_mode)) {
    return std::unexpected(FolderError{FolderError::Kind::Link, error.error});
  }
  return std::unexpected(error);
}

bool Folder::has(const std::string& name) const {
  struct stat status {};
  return ::fstatat(static_cast<int>(handle_), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0;
}

std::expected<NewFile, FolderError> Folder::create(const std::string& name) const {
  const int fd = ::openat(static_cast<int>(handle_), name.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd >= 0) return NewFile(fd);
  return std::unexpected(
      failure(errno == EEXIST ? FolderError::Kind::Exists : FolderError::Kind::Other));
}

void Folder::remove(const std::string& name) const {
  ::unlinkat(static_cast<int>(handle_), name.c_str(), 0);
}

std::expected<void, FolderError> Folder::rename(const std::string& from, const std::string& to,
                                                bool replace) const {
  const int fd = static_cast<int>(handle_);
  int status = replace ? ::renameat(fd, from.c_str(), fd, to.c_str())
                       : ::renameat2(fd, from.c_str(), fd, to.c_str(), RENAME_NOREPLACE);
  // A file system without the no-replace rename still refuses to link over a name.
  if (status != 0 && !replace && (errno == EINVAL || errno == ENOSYS)) {
    status = ::linkat(fd, from.c_str(), fd, to.c_str(), 0);
    if (status == 0) ::unlinkat(fd, from.c_str(), 0);
  }
  if (status == 0) return {};
  return std::unexpected(
      failure(errno == EEXIST ? FolderError::Kind::Exists : FolderError::Kind::Other));
}

}  // namespace brackwater_dat::cli
