#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <random>
#include <string>

#include "errors.hpp"
#include "output_file.hpp"

namespace brackwater_dat {
namespace {

std::unexpected<DatError> last_error() { return io_error(IoError::from_os(errno)); }

}  // namespace

Result<OutputFile> OutputFile::create_beside(const std::filesystem::path& destination) {
  static std::atomic<unsigned long> serial{0};
  // A name no other writer uses: a token drawn once per process and a
  // count, created only when new, retried past leftovers of others.
  static const unsigned long token = std::random_device{}();
  const std::string stem = destination.string() + "." + std::to_string(token) + "-";
  for (;;) {
    std::string name = stem + std::to_string(serial++) + ".tmp";
    const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) return OutputFile(fd, std::move(name));
    if (errno != EEXIST && errno != EINTR) {
      return std::unexpected(DatError{DatError::PathError{destination, IoError::from_os(errno)}});
    }
  }
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : handle_(other.handle_), path_(std::move(other.path_)) {
  other.handle_ = -1;
  other.path_.clear();
}

OutputFile::~OutputFile() {
  close();
  if (!path_.empty()) ::unlink(path_.c_str());
}

void OutputFile::close() noexcept {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
  handle_ = -1;
}

Result<void> OutputFile::append(ByteView bytes) {
  while (!bytes.empty()) {
    const ssize_t wrote = ::write(static_cast<int>(handle_), bytes.data(), bytes.size());
    if (wrote < 0) {
      if (errno == EINTR) continue;
      return last_error();
    }
    bytes = bytes.subspan(static_cast<std::size_t>(wrote));
  }
  return {};
}

Result<void> OutputFile::read_at(std::uint64_t offset, std::span<std::uint8_t> out) const {
  while (!out.empty()) {
    const ssize_t got =
        ::pread(static_cast<int>(handle_), out.data(), out.size(), static_cast<off_t>(offset));
    if (got < 0) {
      if (errno == EINTR) continue;
      return last_error();
    }
    if (got == 0) return io_error(unexpected_eof());
    out = out.subspan(static_cast<std::size_t>(got));
    offset += static_cast<std::uint64_t>(got);
  }
  return {};
}

Result<void> OutputFile::publish(const std::filesystem::path& destination, bool replace) {
  if (::fsync(static_cast<int>(handle_)) != 0) return last_error();
  // A file that appeared at the destination since the writer began is kept
  // unless replacing was asked for.
  int moved = -1;
  if (replace) {
    moved = ::rename(path_.c_str(), destination.c_str());
  } else {
#ifdef RENAME_NOREPLACE
    moved = ::renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, destination.c_str(), RENAME_NOREPLACE);
    if (moved != 0 && errno == EINVAL)
#endif
    {
      // Where there is no no-replace rename, a link still refuses to go over a file.
      moved = ::link(path_.c_str(), destination.c_str());
      if (moved == 0) ::unlink(path_.c_str());
    }
  }
  if (moved != 0) {
    return std::unexpected(DatError{DatError::PathError{destination, IoError::from_os(errno)}});
  }
  path_.clear();
  close();
  return {};
}

bool path_exists(const std::filesystem::path& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0;
}

}  // namespace brackwater_dat
