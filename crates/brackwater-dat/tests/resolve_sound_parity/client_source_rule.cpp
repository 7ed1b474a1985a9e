#include "resolve_sound_parity/client_source_rule.hpp"

#include <algorithm>

namespace brackwater_dat::parity {
namespace {

constexpr std::string_view kNeedle = "pub fn resolve_sound_first";
constexpr std::size_t kWindowLength = 600;

struct Requirement {
  std::string_view text;
  std::string_view message;
};

// Tested in this order; the first one missing is the one reported.
constexpr Requirement kRequirements[] = {
    {"self.sounds.get(&sound_enum)",
     "resolveSoundFirst must read `self.sounds.get(&sound_enum)` — body:"},
    {".first()", "resolveSoundFirst must call `.first()` — body:"},
    {"wave_did", "resolveSoundFirst must return `wave_did` — body:"},
};

bool is_continuation_byte(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

std::string boundary_message(std::string_view text, std::size_t index) {
  std::size_t first = index;
  while (first > 0 && is_continuation_byte(text[first])) --first;
  std::size_t last = index;
  while (last < text.size() && is_continuation_byte(text[last])) ++last;
  return "byte index " + std::to_string(index) +
         " is not a character boundary; it is inside the character at bytes " +
         std::to_string(first) + ".." + std::to_string(last) + " of apps/brackwater-web/src/lib";
}

}  // namespace

std::expected<void, std::string> verify_resolve_sound_first(std::string_view client_text) {
  const std::size_t start = client_text.find(kNeedle);
  if (start == std::string_view::npos) {
    return std::unexpected("`resolve_sound_first` must exist in apps/brackwater-web/src/lib");
  }
  const std::size_t end = start + std::min(kWindowLength, client_text.size() - start);
  if (end < client_text.size() && is_continuation_byte(client_text[end])) {
    return std::unexpected(boundary_message(client_text, end));
  }
  const std::string_view window = client_text.substr(start, end - start);
  for (const auto& requirement : kRequirements) {
    if (window.find(requirement.text) == std::string_view::npos) {
      return std::unexpected(std::string(requirement.message) + "\n" + std::string(window));
    }
  }
  return {};
}

}  // namespace brackwater_dat::parity
