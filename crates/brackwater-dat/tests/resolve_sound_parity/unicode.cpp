#include "resolve_sound_parity/unicode.hpp"

namespace brackwater_dat::parity::unicode {
namespace {

// How many bytes at the start of `text` begin a sequence that is well-formed
// so far but cut short or broken: they stand for one replacement character.
std::size_t ill_formed_length(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 1;
  }
  std::size_t good = 1;
  while (good < length && good < text.size()) {
    const auto byte = static_cast<unsigned char>(text[good]);
    if (byte < (good == 1 ? low : 0x80) || byte > (good == 1 ? high : 0xBF)) break;
    ++good;
  }
  return good;
}

}  // namespace

std::string lossy(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    if (const auto decoded = decode(text)) {
      out += text.substr(0, decoded->length);
      text.remove_prefix(decoded->length);
    } else {
      out += "\xEF\xBF\xBD";
      text.remove_prefix(ill_formed_length(text));
    }
  }
  return out;
}

bool is_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

std::string_view trim_start(std::string_view text) {
  while (const auto decoded = decode(text)) {
    if (!is_white_space(decoded->code_point)) break;
    text.remove_prefix(decoded->length);
  }
  return text;
}

std::string_view trim(std::string_view text) {
  text = trim_start(text);
  // Walk back over whole characters: a continuation byte never starts one.
  while (!text.empty()) {
    std::size_t start = text.size() - 1;
    while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
    const auto decoded = decode(text.substr(start));
    if (!decoded || !is_white_space(decoded->code_point)) break;
    text.remove_suffix(text.size() - start);
  }
  return text;
}

bool is_valid(std::string_view text) {
  while (!text.empty()) {
    const auto decoded = decode(text);
    if (!decoded) return false;
    text.remove_prefix(decoded->length);
  }
  return true;
}

}  // namespace brackwater_dat::parity::unicode
