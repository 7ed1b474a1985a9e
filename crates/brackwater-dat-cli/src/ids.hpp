#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace brackwater_dat::cli {

// A file id, table id or sound kind as typed: 0x and hexadecimal digits, or
// decimal digits, within 32 bits. Anything else is none.
std::optional<std::uint32_t> parse_id(std::string_view text);

// A file type as typed: one or two hexadecimal digits, with or without 0x.
std::optional<std::uint8_t> parse_type(std::string_view text);

}  // namespace brackwater_dat::cli
