#include "unicode.hpp"

#include <cstdio>

namespace brackwater_dat::unicode {
namespace {

bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Controls, line and paragraph separators, and the invisible format characters
// that would otherwise hide inside a message.
bool is_printable(char32_t c) {
  if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return false;
  if (c == 0x00AD || (c >= 0x200B && c <= 0x200F) || (c >= 0x2028 && c <= 0x202E)) return false;
  if ((c >= 0x2060 && c <= 0x206F) || c == 0xFEFF) return false;
  if ((c >= 0xFFF9 && c <= 0xFFFB) || (c & 0xFFFE) == 0xFFFE) return false;
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

bool is_valid(std::string_view text) {
  while (!text.empty()) {
    const auto decoded = decode(text);
    if (!decoded) return false;
    text.remove_prefix(decoded->length);
  }
  return true;
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

}  // namespace brackwater_dat::unicode
