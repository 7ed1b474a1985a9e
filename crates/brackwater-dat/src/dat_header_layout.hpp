#pragma once

#include <array>
#include <cstdint>
#include <expected>

#include "brackwater_dat/bytes.hpp"
#include "brackwater_dat/dat_header.hpp"
#include "brackwater_dat/error.hpp"

namespace brackwater_dat {

inline constexpr std::uint64_t kHeaderOffset = 0x140;
inline constexpr std::size_t kHeaderLength = 80;

// Decodes the header from the bytes the file holds at kHeaderOffset.
std::expected<DatHeader, ParseError> decode_header(ByteView bytes,
                                                   const std::optional<IoError>& end_error);

// The header's bytes at kHeaderOffset, in the layout decode_header reads.
std::array<std::uint8_t, kHeaderLength> encode_header(const DatHeader& header);

}  // namespace brackwater_dat
