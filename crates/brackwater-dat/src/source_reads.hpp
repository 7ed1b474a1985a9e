#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>

#include "brackwater_dat/source.hpp"

// Whole reads over a Source, whose reads may come back short.
namespace brackwater_dat::source_reads {

// Fills every buffer of `parts`, in order, from the bytes at `offset` on;
// `parts` is consumed. Short reads are continued; the end of the data before
// the last byte is UnexpectedEof "failed to fill whole buffer".
std::expected<void, IoError> read_exact_at(const Source& source, std::uint64_t offset,
                                           std::span<std::span<std::uint8_t>> parts);

std::expected<void, IoError> read_exact_at(const Source& source, std::uint64_t offset,
                                           std::span<std::uint8_t> buffer);

// Reads as much of `buffer` as the source holds from `offset` on. Returns the
// count read and the error that stopped it short, if any but the data's end.
struct PartialRead {
  std::size_t count;
  std::optional<IoError> error;
};
PartialRead read_up_to(const Source& source, std::uint64_t offset, std::span<std::uint8_t> buffer);

}  // namespace brackwater_dat::source_reads
