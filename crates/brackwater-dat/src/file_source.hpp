#pragma once

#include <filesystem>
#include <memory>

#include "brackwater_dat/error.hpp"
#include "brackwater_dat/source.hpp"

namespace brackwater_dat {

// An archive file, read only by positioned reads: the file's current
// position is never used, so one descriptor serves many threads. Owns the
// descriptor and closes it when destroyed.
class FileSource final : public Source {
 public:
  // Opens `path` read-only. A path that cannot be opened, names a directory,
  // or cannot be positioned (a seek to `header_offset` probes it: a FIFO or a
  // socket cannot, and is no archive) is PathError. Never blocks on a FIFO.
  static Result<std::unique_ptr<FileSource>> open(const std::filesystem::path& path,
                                                  std::uint64_t header_offset);

  ~FileSource() override;
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  // Interrupted reads are retried; a short read is returned as it is.
  std::expected<std::size_t, IoError> read_at(std::uint64_t offset,
                                              std::span<std::uint8_t> buffer) const override;
  std::expected<std::uint64_t, IoError> length() const override;
  // One preadv for up to 64 parts.
  std::expected<std::size_t, IoError> read_scattered_at(
      std::uint64_t offset, std::span<const std::span<std::uint8_t>> parts) const override;

 private:
  explicit FileSource(int fd) noexcept : fd_(fd) {}

  int fd_;
};

}  // namespace brackwater_dat
