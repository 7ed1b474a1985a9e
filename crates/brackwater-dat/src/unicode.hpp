#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace brackwater_dat::unicode {

// One UTF-8 sequence at the start of a text: its code point and byte length.
// None when the bytes there are not a well-formed sequence.
struct Decoded {
  char32_t code_point;
  std::size_t length;
};
std::optional<Decoded> decode(std::string_view text);

// The text in double quotes with quote, backslash, \t \r \n \0 escaped, other
// non-printable characters as \u{hex}, and malformed bytes as \xNN.
std::string quoted(std::string_view text);

// UTF-16 code units (Windows' wide strings) as UTF-8; a surrogate without
// its pair becomes U+FFFD.
std::string utf8_from_utf16(std::wstring_view units);

// A path as messages show it: its bytes where the system's paths are bytes,
// UTF-8 where they are UTF-16.
std::string path_text(const std::filesystem::path& path);

}  // namespace brackwater_dat::unicode
