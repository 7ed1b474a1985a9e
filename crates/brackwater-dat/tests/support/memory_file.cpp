#include "support/memory_file.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace brackwater_dat::test_support {

MemoryFile::MemoryFile() : fd_(::memfd_create("archive", MFD_CLOEXEC)) {
  if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "memfd_create");
  path_ = "/proc/self/fd/" + std::to_string(fd_);
}

MemoryFile::~MemoryFile() { ::close(fd_); }

void MemoryFile::assign(ByteView bytes) {
  if (::ftruncate(fd_, 0) != 0) {
    throw std::system_error(errno, std::generic_category(), "ftruncate");
  }
  write_at(0, bytes);
}

void MemoryFile::write_at(std::size_t offset, ByteView bytes) {
  for (std::size_t at = 0; at < bytes.size();) {
    const ssize_t n =
        ::pwrite(fd_, bytes.data() + at, bytes.size() - at, static_cast<off_t>(offset + at));
    if (n < 0) throw std::system_error(errno, std::generic_category(), "pwrite");
    at += static_cast<std::size_t>(n);
  }
}

}  // namespace brackwater_dat::test_support
