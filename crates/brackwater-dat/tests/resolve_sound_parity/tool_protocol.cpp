#include "resolve_sound_parity/tool_protocol.hpp"

#include "resolve_sound_parity/format.hpp"
#include "resolve_sound_parity/unicode.hpp"

namespace brackwater_dat::parity {

std::string resolve_request(std::uint32_t table_id, std::uint32_t sound) {
  return R"({"command":"marlstone-resolve-sound","soundTableDid":"0x)" + hex(table_id, 8) +
         R"(","sound":)" + std::to_string(sound) + "}";
}

std::optional<std::string> extract_string_field(std::string_view line, std::string_view key) {
  const std::string needle = "\"" + std::string(key) + "\":";
  const std::size_t at = line.find(needle);
  if (at == std::string_view::npos) return std::nullopt;
  const std::string_view rest = unicode::trim_start(line.substr(at + needle.size()));
  if (rest.starts_with("null") || !rest.starts_with('"')) return std::nullopt;
  const std::size_t close = rest.find('"', 1);
  if (close == std::string_view::npos) return std::nullopt;
  return std::string(rest.substr(1, close - 1));
}

bool is_resolve_response(std::string_view line) {
  return extract_string_field(line, "command") == kResolveCommand;
}

std::optional<std::uint32_t> read_wave(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  std::string_view digits = *text;
  if (digits.starts_with("0x") || digits.starts_with("0X")) digits.remove_prefix(2);
  if (digits.starts_with('+')) digits.remove_prefix(1);
  if (digits.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : digits) {
    unsigned digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
    value = value * 16 + digit;
    if (value > 0xFFFFFFFF) return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

}  // namespace brackwater_dat::parity
