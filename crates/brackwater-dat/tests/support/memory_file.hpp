#pragma once

#include <brackwater_dat/bytes.hpp>
#include <string>

namespace brackwater_dat::test_support {

// An anonymous in-memory file that the reader opens by path
// (/proc/self/fd/N); its contents can be replaced at will.
class MemoryFile {
 public:
  MemoryFile();
  ~MemoryFile();
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  void assign(ByteView bytes);
  // Overwrites bytes at `offset`, keeping the rest.
  void write_at(std::size_t offset, ByteView bytes);
  const std::string& path() const noexcept { return path_; }

 private:
  int fd_;
  std::string path_;
};

}  // namespace brackwater_dat::test_support
