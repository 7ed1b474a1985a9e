#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// UTF-8 text as the checks read it from the environment and the reference tool.
namespace brackwater_dat::parity::unicode {

// One UTF-8 sequence at the start of a text: its code point and byte length.
// None when the bytes there are not a well-formed sequence.
struct Decoded {
  char32_t code_point;
  std::size_t length;
};
std::optional<Decoded> decode(std::string_view text);

// Whether the whole text is well-formed UTF-8.
bool is_valid(std::string_view text);

// The text with each maximal ill-formed subsequence replaced by U+FFFD.
std::string lossy(std::string_view text);

// The Unicode White_Space property.
bool is_white_space(char32_t c);

// The text without leading, or trailing, White_Space; the text must be UTF-8.
std::string_view trim_start(std::string_view text);
std::string_view trim(std::string_view text);

}  // namespace brackwater_dat::parity::unicode
