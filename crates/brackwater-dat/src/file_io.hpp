#pragma once

#include <sys/uio.h>

#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <span>

#include "brackwater_dat/error.hpp"

// The positioned-read file layer under the archive reader. Reads never use or
// move the file's current position, so one descriptor serves many threads.
namespace brackwater_dat::file_io {

// Opens `path` for reading only; the descriptor closes on exec.
std::expected<int, IoError> open_read_only(const std::filesystem::path& path);

// Fails with IsADirectory for a directory, which opens but holds no bytes.
std::expected<void, IoError> refuse_directory(int fd);

// The file's length, found by seeking to its end (block devices included).
std::expected<std::uint64_t, IoError> length_of(int fd);

// Sets the file's position; reads here never use it, but a file that cannot
// be positioned is no archive.
std::expected<void, IoError> seek(int fd, std::uint64_t offset);

void close(int fd) noexcept;

// Fills every buffer of `parts`, in order, from the bytes at `offset` on.
// Interrupted reads are retried and short reads continued; the end of the file
// before the last byte is UnexpectedEof "failed to fill whole buffer".
std::expected<void, IoError> read_exact_at(int fd, std::uint64_t offset, std::span<iovec> parts);

std::expected<void, IoError> read_exact_at(int fd, std::uint64_t offset,
                                           std::span<std::uint8_t> buffer);

// Reads as much of `buffer` as the file holds from `offset` on. Returns the
// count read and the error that stopped it short, if any but the file's end.
struct PartialRead {
  std::size_t count;
  std::optional<IoError> error;
};
PartialRead read_up_to(int fd, std::uint64_t offset, std::span<std::uint8_t> buffer);

// The error of a read that met the end of the file.
IoError unexpected_eof();

}  // namespace brackwater_dat::file_io
