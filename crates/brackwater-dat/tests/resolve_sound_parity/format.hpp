#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The renderings the checks' messages share.
namespace brackwater_dat::parity {

// Upper-case hexadecimal, zero-padded to at least `digits` digits, no prefix.
std::string hex(std::uint32_t value, int digits);

// Some(167772770) or None.
std::string debug_wave(std::optional<std::uint32_t> wave);

// The failure text of an equality assertion: "assertion `left == right`
// failed: MESSAGE", then "  left: " and " right: " lines.
std::string equality_failure(std::string_view message, std::string_view left,
                             std::string_view right);

}  // namespace brackwater_dat::parity
