#include "output_folder.hpp"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <brackwater_dat/error.hpp>
#include <cerrno>
#include <system_error>
#include <utility>

#include "interruption.hpp"
#include "output.hpp"
#include "text_format.hpp"

namespace brackwater_dat::cli {
namespace {

std::string os_text(int error) { return display_text(IoError::from_os(error)); }

// Distinct temporary names among this process's threads; O_EXCL settles the rest.
std::atomic<unsigned long> temporary_serial{0};

}  // namespace

std::expected<OutputFolder, std::string> OutputFolder::open(const std::filesystem::path& path) {
  std::error_code error;
  std::filesystem::create_directories(path, error);
  if (error) {
    return std::unexpected("cannot make folder " + shown_path(path.native()) + ": " +
                           os_text(error.value()));
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    return std::unexpected("cannot open folder " + shown_path(path.native()) + ": " +
                           os_text(errno));
  }
  return OutputFolder(fd, path.string());
}

OutputFolder::OutputFolder(OutputFolder&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}

OutputFolder::~OutputFolder() {
  if (fd_ >= 0) ::close(fd_);
}

std::string OutputFolder::child_path(std::string_view name) const {
  std::string path = path_;
  if (!path.ends_with('/')) path += '/';
  return path.append(name);
}

std::string OutputFolder::shown_child(std::string_view name) const {
  return shown_path(child_path(name));
}

std::expected<OutputFolder, std::string> OutputFolder::subfolder(std::string_view name) const {
  const std::string child(name);
  if (::mkdirat(fd_, child.c_str(), 0777) != 0 && errno != EEXIST) {
    return std::unexpected("cannot make folder " + shown_child(name) + ": " + os_text(errno));
  }
  const int fd = ::openat(fd_, child.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0) return OutputFolder(fd, child_path(name));
  const int error = errno;
  if (struct stat status{};
      ::fstatat(fd_, child.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(status.st_mode)) {
    return std::unexpected("refusing folder " + shown_child(name) + ": it is a symbolic link");
  }
  return std::unexpected("cannot open folder " + shown_child(name) + ": " + os_text(error));
}

OutputFolder::WriteError OutputFolder::taken(std::string_view name) const {
  return {WriteError::Kind::Exists, shown_child(name) + " exists; use --force to overwrite it"};
}

std::expected<std::uint64_t, OutputFolder::WriteError> OutputFolder::write_file(
    std::string_view name, bool replace, const Contents& contents) const {
  if (struct stat status{};
      !replace && ::fstatat(fd_, std::string(name).c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
    return std::unexpected(taken(name));
  }
  const auto bytes = contents();
  if (!bytes) return std::unexpected(WriteError{WriteError::Kind::Unreadable, bytes.error()});
  static const std::string process = std::to_string(::getpid());
  std::string temporary;
  int fd = -1;
  while (fd < 0) {
    temporary =
        "." + std::string(name) + ".partial-" + process + "-" + std::to_string(temporary_serial++);
    fd = ::openat(fd_, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                  0666);
    if (fd < 0 && errno != EEXIST) {
      return std::unexpected(
          WriteError{WriteError::Kind::Unwritable,
                     "cannot create a file in " + shown_path(path_) + ": " + os_text(errno)});
    }
  }
  // A piece at a time, so that a large file gives way soon to an interruption.
  constexpr std::size_t kPiece = 1 << 20;
  std::string_view left(reinterpret_cast<const char*>(bytes->data()), bytes->size());
  int error = 0;
  while (error == 0 && !left.empty() && Interruption::signal() == 0) {
    error = write_all(fd, left.substr(0, kPiece));
    left.remove_prefix(std::min(kPiece, left.size()));
  }
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error != 0 || Interruption::signal() != 0) {
    ::unlinkat(fd_, temporary.c_str(), 0);
    if (error == 0) {
      return std::unexpected(
          WriteError{WriteError::Kind::Interrupted, shown_child(name) + ": interrupted"});
    }
    return std::unexpected(WriteError{WriteError::Kind::Unwritable,
                                      "cannot write " + shown_child(name) + ": " + os_text(error)});
  }
  if (auto published = publish(temporary, std::string(name), replace); !published) {
    ::unlinkat(fd_, temporary.c_str(), 0);
    return std::unexpected(published.error());
  }
  return bytes->size();
}

std::expected<void, OutputFolder::WriteError> OutputFolder::publish(const std::string& temporary,
                                                                    const std::string& name,
                                                                    bool replace) const {
  const char* from = temporary.c_str();
  const char* to = name.c_str();
  int status =
      replace ? ::renameat(fd_, from, fd_, to) : ::renameat2(fd_, from, fd_, to, RENAME_NOREPLACE);
  // A file system without the no-replace rename still refuses to link over a name.
  if (status != 0 && !replace && (errno == EINVAL || errno == ENOSYS)) {
    status = ::linkat(fd_, from, fd_, to, 0);
    if (status == 0) ::unlinkat(fd_, from, 0);
  }
  if (status == 0) return {};
  if (errno == EEXIST) return std::unexpected(taken(name));
  return std::unexpected(WriteError{WriteError::Kind::Unwritable,
                                    "cannot write " + shown_child(name) + ": " + os_text(errno)});
}

}  // namespace brackwater_dat::cli
