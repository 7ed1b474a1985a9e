#include "ids.hpp"

#include <charconv>

namespace brackwater_dat::cli {
namespace {

// The whole text as a number in `base`: no sign, no spaces, no other prefix.
template <class T>
std::optional<T> whole_number(std::string_view text, int base) {
  if (text.empty()) return std::nullopt;
  T value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

bool hex_prefixed(std::string_view text) {
  return text.starts_with("0x") || text.starts_with("0X");
}

bool all_decimal(std::string_view text) {
  return text.find_first_not_of("0123456789") == std::string_view::npos;
}

}  // namespace

std::optional<std::uint32_t> parse_id(std::string_view text) {
  if (hex_prefixed(text)) return whole_number<std::uint32_t>(text.substr(2), 16);
  // Digits with hex letters are hex, as the tool names its files without 0x;
  // digits alone stay decimal, which scripts rely on.
  return whole_number<std::uint32_t>(text, all_decimal(text) ? 10 : 16);
}

std::optional<TypedId> parse_typed_id(std::string_view text) {
  const auto value = parse_id(text);
  if (!value) return std::nullopt;
  TypedId id{*value, std::nullopt};
  if (all_decimal(text)) {
    const auto as_hex = whole_number<std::uint32_t>(text, 16);
    if (as_hex && *as_hex != *value) id.as_hex = as_hex;
  }
  return id;
}

std::optional<std::uint8_t> parse_type(std::string_view text) {
  if (hex_prefixed(text)) text.remove_prefix(2);
  if (text.size() > 2) return std::nullopt;
  return whole_number<std::uint8_t>(text, 16);
}

}  // namespace brackwater_dat::cli
