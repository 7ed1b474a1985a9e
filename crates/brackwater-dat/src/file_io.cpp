#include "file_io.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace brackwater_dat::file_io {
namespace {

// Drops `count` bytes from the front of `parts`.
void advance(std::span<iovec>& parts, std::size_t count) {
  while (!parts.empty() && count >= parts.front().iov_len) {
    count -= parts.front().iov_len;
    parts = parts.subspan(1);
  }
  if (!parts.empty()) {
    parts.front().iov_base = static_cast<std::uint8_t*>(parts.front().iov_base) + count;
    parts.front().iov_len -= count;
  }
}

void drop_empty(std::span<iovec>& parts) {
  while (!parts.empty() && parts.front().iov_len == 0) parts = parts.subspan(1);
}

}  // namespace

std::expected<int, IoError> open_read_only(const std::filesystem::path& path) {
  for (;;) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) return fd;
    if (errno != EINTR) return std::unexpected(IoError::from_os(errno));
  }
}

std::expected<void, IoError> refuse_directory(int fd) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) return std::unexpected(IoError::from_os(errno));
  if (S_ISDIR(status.st_mode)) return std::unexpected(IoError::from_os(EISDIR));
  return {};
}

std::expected<std::uint64_t, IoError> length_of(int fd) {
  const off_t end = ::lseek(fd, 0, SEEK_END);
  if (end < 0) return std::unexpected(IoError::from_os(errno));
  return static_cast<std::uint64_t>(end);
}

std::expected<void, IoError> seek(int fd, std::uint64_t offset) {
  if (::lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0) {
    return std::unexpected(IoError::from_os(errno));
  }
  return {};
}

void close(int fd) noexcept {
  if (fd >= 0) ::close(fd);
}

IoError unexpected_eof() {
  return IoError::simple(IoErrorKind::UnexpectedEof, "failed to fill whole buffer");
}

std::expected<void, IoError> read_exact_at(int fd, std::uint64_t offset, std::span<iovec> parts) {
  drop_empty(parts);
  while (!parts.empty()) {
    const int count = static_cast<int>(parts.size());  // callers pass a few parts
    const ssize_t got = ::preadv(fd, parts.data(), count, static_cast<off_t>(offset));
    if (got < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(IoError::from_os(errno));
    }
    if (got == 0) return std::unexpected(unexpected_eof());
    offset += static_cast<std::uint64_t>(got);
    advance(parts, static_cast<std::size_t>(got));
    drop_empty(parts);
  }
  return {};
}

std::expected<void, IoError> read_exact_at(int fd, std::uint64_t offset,
                                           std::span<std::uint8_t> buffer) {
  iovec part{.iov_base = buffer.data(), .iov_len = buffer.size()};
  return read_exact_at(fd, offset, std::span(&part, 1));
}

PartialRead read_up_to(int fd, std::uint64_t offset, std::span<std::uint8_t> buffer) {
  std::size_t count = 0;
  while (count < buffer.size()) {
    iovec part{.iov_base = buffer.data() + count, .iov_len = buffer.size() - count};
    const ssize_t got = ::preadv(fd, &part, 1, static_cast<off_t>(offset + count));
    if (got < 0) {
      if (errno == EINTR) continue;
      return {count, IoError::from_os(errno)};
    }
    if (got == 0) break;
    count += static_cast<std::size_t>(got);
  }
  return {count, std::nullopt};
}

}  // namespace brackwater_dat::file_io
