#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "../../src/unicode.hpp"  // the library's own

// UTF-8 text as the checks read it from the environment and the reference tool.
namespace brackwater_dat::parity::unicode {

// One UTF-8 sequence at the start of a text, decoded as the library decodes
// its own texts.
using brackwater_dat::unicode::decode;
using brackwater_dat::unicode::Decoded;

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
