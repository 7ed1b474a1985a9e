#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace brackwater_dat::cli {

// Two upper-case hex digits.
std::string format_type(std::uint8_t type);
// 0x and at least two upper-case hex digits.
std::string format_kind(std::uint32_t kind);
// The shortest text that reads back as the same float; nan, inf or -inf otherwise.
std::string format_float(float value);
// Two lower-case hex digits a byte.
std::string format_hex_bytes(std::span<const std::uint8_t> bytes);
// A path as text output shows it: as it is, or, when it holds a line break or
// another control character, in double quotes with those escaped, so that a
// name cannot break a line or pass for another.
std::string shown_path(std::string_view path);
// Seconds since 1970 as ISO 8601 in UTC: 2024-01-31T12:00:00Z.
std::string format_time(std::uint32_t seconds);
// Spaces in front of `text` up to `width` characters.
std::string pad_left(std::string_view text, std::size_t width);
// Spaces after `text` up to `width` characters.
std::string pad_right(std::string_view text, std::size_t width);

}  // namespace brackwater_dat::cli
