#include "resolve_sound_parity/format.hpp"

#include <cstdio>

namespace brackwater_dat::parity {

std::string hex(std::uint32_t value, int digits) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*X", digits, value);
  return buffer;
}

std::string debug_wave(std::optional<std::uint32_t> wave) {
  return wave ? "Some(" + std::to_string(*wave) + ")" : "None";
}

std::string equality_failure(std::string_view message, std::string_view left,
                             std::string_view right) {
  return "assertion `left == right` failed: " + std::string(message) +
         "\n  left: " + std::string(left) + "\n right: " + std::string(right);
}

}  // namespace brackwater_dat::parity
