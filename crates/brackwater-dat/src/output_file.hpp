#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

#include "brackwater_dat/bytes.hpp"
#include "brackwater_dat/error.hpp"

namespace brackwater_dat {

// A file written under a fresh temporary name beside its destination, so
// that nothing appears at the destination until it is whole. Removed when
// destroyed unless it was published.
//
// One implementation per platform, chosen by the build:
// output_file_posix.cpp and output_file_windows.cpp.
class OutputFile {
 public:
  // A new, empty file in the folder of `destination`; failing that,
  // PathError naming `destination`.
  static Result<OutputFile> create_beside(const std::filesystem::path& destination);

  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&&) = delete;
  OutputFile(const OutputFile&) = delete;
  ~OutputFile();

  // Appends all of `bytes`.
  Result<void> append(ByteView bytes);
  // Exactly out.size() bytes at `offset`.
  Result<void> read_at(std::uint64_t offset, std::span<std::uint8_t> out) const;
  // Flushes the file to disk and moves it to `destination` in one rename,
  // replacing a file there only when `replace`; then closes it. Failing,
  // the file stays a temporary and goes when destroyed.
  Result<void> publish(const std::filesystem::path& destination, bool replace);

 private:
  OutputFile(std::intptr_t handle, std::filesystem::path path) noexcept
      : handle_(handle), path_(std::move(path)) {}
  void close() noexcept;

  std::intptr_t handle_;        // the platform's descriptor or handle; -1 when closed
  std::filesystem::path path_;  // empty once published or moved from
};

// Whether something exists at `path` (a broken link counts).
bool path_exists(const std::filesystem::path& path);

}  // namespace brackwater_dat
