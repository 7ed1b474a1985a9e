#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "errors.hpp"
#include "file_source.hpp"

namespace brackwater_dat {
namespace {

IoError last_error() { return IoError::from_os(errno); }

// Owns the descriptor and closes it when destroyed.
class FileSource final : public Source {
 public:
  explicit FileSource(int fd) noexcept : fd_(fd) {}
  ~FileSource() override { ::close(fd_); }
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  std::expected<std::size_t, IoError> read_at(std::uint64_t offset,
                                              std::span<std::uint8_t> buffer) const override;
  std::expected<std::uint64_t, IoError> length() const override;
  // One preadv for up to 64 parts.
  std::expected<std::size_t, IoError> read_scattered_at(
      std::uint64_t offset, std::span<const std::span<std::uint8_t>> parts) const override;

 private:
  int fd_;
};

}  // namespace

Result<std::unique_ptr<Source>> open_file_source(const std::filesystem::path& path) {
  auto path_error = [&](IoError source) {
    return std::unexpected(DatError{DatError::PathError{path, std::move(source)}});
  };
  // Without O_NONBLOCK, opening a FIFO that no one writes to waits for ever.
  int fd = -1;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return path_error(last_error());
  auto source = std::make_unique<FileSource>(fd);

  struct stat status {};
  if (::fstat(fd, &status) != 0) return path_error(last_error());
  // A directory opens but holds no bytes.
  if (S_ISDIR(status.st_mode)) return path_error(IoError::from_os(EISDIR));
  // Reads of regular files and block devices never wait; a blocking
  // descriptor keeps other files' reads whole rather than EAGAIN.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  // Reads here never use the position: the seek only probes that the file
  // can be positioned, as no FIFO or socket can, so a failure is this path's.
  if (::lseek(fd, 0, SEEK_SET) < 0) {
    return path_error(last_error());
  }
  return std::unique_ptr<Source>(std::move(source));
}

std::expected<std::size_t, IoError> FileSource::read_at(std::uint64_t offset,
                                                        std::span<std::uint8_t> buffer) const {
  const std::array<std::span<std::uint8_t>, 1> parts{buffer};
  return read_scattered_at(offset, parts);
}

std::expected<std::uint64_t, IoError> FileSource::length() const {
  // fstat does not know a block device's length; seeking to its end does.
  struct stat status {};
  if (::fstat(fd_, &status) != 0) return std::unexpected(last_error());
  if (S_ISREG(status.st_mode)) return static_cast<std::uint64_t>(status.st_size);
  const off_t end = ::lseek(fd_, 0, SEEK_END);
  if (end < 0) return std::unexpected(last_error());
  return static_cast<std::uint64_t>(end);
}

std::expected<std::size_t, IoError> FileSource::read_scattered_at(
    std::uint64_t offset, std::span<const std::span<std::uint8_t>> parts) const {
  std::array<iovec, 64> vectors;
  const std::size_t count = std::min(parts.size(), vectors.size());
  for (std::size_t i = 0; i < count; ++i) vectors[i] = iovec{parts[i].data(), parts[i].size()};
  for (;;) {
    const ssize_t got =
        ::preadv(fd_, vectors.data(), static_cast<int>(count), static_cast<off_t>(offset));
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) return std::unexpected(last_error());
  }
}

}  // namespace brackwater_dat
