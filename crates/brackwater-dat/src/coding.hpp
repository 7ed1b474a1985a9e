#pragma once

#include <cstdint>

// The archive's byte order, in one place: every integer is little-endian.
namespace brackwater_dat::coding {

inline std::uint32_t load_u32(const std::uint8_t* at) noexcept {
  return std::uint32_t{at[0]} | std::uint32_t{at[1]} << 8 | std::uint32_t{at[2]} << 16 |
         std::uint32_t{at[3]} << 24;
}

inline void store_u32(std::uint8_t* at, std::uint32_t value) noexcept {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
  at[2] = static_cast<std::uint8_t>(value >> 16);
  at[3] = static_cast<std::uint8_t>(value >> 24);
}

}  // namespace brackwater_dat::coding
