#include "unicode.hpp"

#include <cstdint>
#include <cstdio>
#include <optional>

namespace brackwater_dat::unicode {
namespace {

bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

struct Range {
  char32_t first, last;
};

// Characters that would hide or mislead inside a message: controls, spaces
// other than the ASCII one, line and paragraph separators, format
// characters, combining marks (which attach to the quote before them),
// private-use characters and noncharacters.
constexpr Range kHidden[] = {
    {0x0000, 0x001F}, {0x007F, 0x00A0}, {0x00AD, 0x00AD}, {0x0300, 0x036F},   {0x0600, 0x0605},
    {0x061C, 0x061C}, {0x06DD, 0x06DD}, {0x070F, 0x070F}, {0x1680, 0x1680},   {0x180E, 0x180E},
    {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF}, {0x2000, 0x200F}, {0x2028, 0x202F},   {0x205F, 0x206F},
    {0x20D0, 0x20FF}, {0x3000, 0x3000}, {0xE000, 0xF8FF}, {0xFDD0, 0xFDEF},   {0xFE00, 0xFE0F},
    {0xFE20, 0xFE2F}, {0xFEFF, 0xFEFF}, {0xFFF9, 0xFFFB}, {0xE0000, 0xE0FFF}, {0xF0000, 0x10FFFF},
};

bool is_printable(char32_t c) {
  if ((c & 0xFFFE) == 0xFFFE) return false;  // the last two code points of every plane
  for (const auto& range : kHidden) {
    if (c >= range.first && c <= range.last) return false;
  }
  return true;
}

std::string hex(std::uint32_t value, const char* format) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

}  // namespace

std::optional<Decoded> decode(std::string_view text) {
  if (text.empty()) return std::nullopt;
  const auto lead = static_cast<unsigned char>(text[0]);
  if (lead < 0x80) return Decoded{lead, 1};
  std::size_t length = 0;
  char32_t c = 0;
  char32_t minimum = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, c = lead & 0x1F, minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, c = lead & 0x0F, minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, c = lead & 0x07, minimum = 0x10000;
  } else {
    return std::nullopt;
  }
  if (text.size() < length) return std::nullopt;
  for (std::size_t i = 1; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (!is_continuation(byte)) return std::nullopt;
    c = (c << 6) | (byte & 0x3F);
  }
  if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
  return Decoded{c, length};
}

std::string quoted(std::string_view text) {
  std::string out = "\"";
  while (!text.empty()) {
    const auto decoded = decode(text);
    if (!decoded) {
      out += hex(static_cast<unsigned char>(text[0]), "\\x%02x");
      text.remove_prefix(1);
      continue;
    }
    const char32_t c = decoded->code_point;
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\0':
        out += "\\0";
        break;
      default:
        if (is_printable(c)) {
          out += text.substr(0, decoded->length);
        } else {
          out += hex(static_cast<std::uint32_t>(c), "\\u{%x}");
        }
    }
    text.remove_prefix(decoded->length);
  }
  return out + "\"";
}

std::string utf8_from_utf16(std::wstring_view units) {
  std::string out;
  for (std::size_t i = 0; i < units.size(); ++i) {
    char32_t c = static_cast<char16_t>(units[i]);
    const bool high = c >= 0xD800 && c <= 0xDBFF;
    const char32_t next = i + 1 < units.size() ? static_cast<char16_t>(units[i + 1]) : 0;
    if (high && next >= 0xDC00 && next <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

namespace {

// One of the two serves each platform's paths.
[[maybe_unused]] std::string native_text(std::string_view bytes) { return std::string(bytes); }
[[maybe_unused]] std::string native_text(std::wstring_view units) { return utf8_from_utf16(units); }

}  // namespace

std::string path_text(const std::filesystem::path& path) { return native_text(path.native()); }

}  // namespace brackwater_dat::unicode
