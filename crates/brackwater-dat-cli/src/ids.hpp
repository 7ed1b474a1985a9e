#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brackwater_dat::cli {

// A file id, table id or sound kind as typed, within 32 bits: 0x (or 0X) and
// hexadecimal digits; hexadecimal digits with at least one letter, as the
// tool names files without 0x; or decimal digits. Anything else is none.
std::optional<std::uint32_t> parse_id(std::string_view text);

// An id as typed, and, when it was typed in decimal digits alone, what the same digits
// mean in hex (if that differs and fits): the id a person who left out the
// 0x had in mind.
struct TypedId {
  std::uint32_t value = 0;
  std::optional<std::uint32_t> as_hex;

  // " (did you mean 0x...?)" when the hex reading is one `known` accepts,
  // else nothing.
  template <class Known>
  std::string suggestion(Known&& known, std::string (*format)(std::uint32_t)) const {
    return as_hex && known(*as_hex) ? " (did you mean " + format(*as_hex) + "?)" : std::string();
  }
};
std::optional<TypedId> parse_typed_id(std::string_view text);

// A file type as typed: one or two hexadecimal digits, with or without 0x or 0X.
std::optional<std::uint8_t> parse_type(std::string_view text);

}  // namespace brackwater_dat::cli
