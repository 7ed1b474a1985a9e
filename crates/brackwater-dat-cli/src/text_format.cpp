#include "text_format.hpp"

#include <algorithm>
#include <array>
#include <brackwater_dat/error.hpp>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace brackwater_dat::cli {
namespace {

std::string hex(std::uint64_t value, std::size_t min_digits, const char* digits) {
  std::string reversed;
  do {
    reversed.push_back(digits[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  if (reversed.size() < min_digits) reversed.append(min_digits - reversed.size(), '0');
  return {reversed.rbegin(), reversed.rend()};
}

constexpr const char* kUpper = "0123456789ABCDEF";
constexpr const char* kLower = "0123456789abcdef";

}  // namespace

std::string format_type(std::uint8_t type) { return hex(type, 2, kUpper); }

std::string format_kind(std::uint32_t kind) { return "0x" + hex(kind, 2, kUpper); }

std::string format_float(float value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  std::array<char, 32> text{};
  const auto end = std::to_chars(text.data(), text.data() + text.size(), value).ptr;
  return std::string(text.data(), end);
}

std::string format_hex_bytes(std::span<const std::uint8_t> bytes) {
  std::string text;
  for (const std::uint8_t byte : bytes) text += hex(byte, 2, kLower);
  return text;
}

std::string shown_path(std::string_view path) {
  const bool plain = std::ranges::none_of(path, [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
  });
  return plain ? std::string(path) : debug_text(path);
}

std::string pad_left(std::string_view text, std::size_t width) {
  std::string padded(width > text.size() ? width - text.size() : 0, ' ');
  return padded.append(text);
}

std::string format_time(std::uint32_t seconds) {
  // Days to a civil date in the proleptic Gregorian calendar, counted in
  // 400-year eras from 0000-03-01 so that leap days fall at an era's end.
  const std::int64_t days = seconds / 86400 + 719468;
  const std::int64_t era = days / 146097;
  const std::int64_t day_of_era = days - era * 146097;
  const std::int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const std::int64_t day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const std::int64_t shifted_month = (5 * day_of_year + 2) / 153;
  const std::int64_t day = day_of_year - (153 * shifted_month + 2) / 5 + 1;
  const std::int64_t month = shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;
  const std::int64_t year = year_of_era + era * 400 + (month <= 2);
  const std::uint32_t in_day = seconds % 86400;
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02u:%02u:%02uZ", static_cast<int>(year),
                static_cast<int>(month), static_cast<int>(day), in_day / 3600, in_day / 60 % 60,
                in_day % 60);
  return text;
}

std::string pad_right(std::string_view text, std::size_t width) {
  std::string padded(text);
  if (width > padded.size()) padded.append(width - padded.size(), ' ');
  return padded;
}

}  // namespace brackwater_dat::cli
