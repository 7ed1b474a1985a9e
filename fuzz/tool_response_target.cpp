// The reference tool's response handling on arbitrary lines.
#include <cstdint>
#include <string_view>

#include "fuzz_check.hpp"
#include "resolve_sound_parity/tool_protocol.hpp"
#include "resolve_sound_parity/unicode.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace parity = brackwater_dat::parity;
  namespace unicode = brackwater_dat::parity::unicode;
  const std::string text = unicode::lossy({reinterpret_cast<const char*>(data), size});
  FUZZ_CHECK(unicode::is_valid(text));
  const std::string_view line = unicode::trim(text);
  FUZZ_CHECK(line.size() <= text.size());
  for (std::string_view key : {"command", "waveDid", "source"}) {
    const auto value = parity::extract_string_field(line, key);
    FUZZ_CHECK(!value || value->find('"') == std::string::npos);
    FUZZ_CHECK(!value || line.find(*value) != std::string_view::npos);
  }
  const auto wave_text = parity::extract_string_field(line, "waveDid");
  const auto wave = parity::read_wave(wave_text);
  FUZZ_CHECK(!wave || wave_text);
  FUZZ_CHECK(parity::is_resolve_response(line) ==
             (parity::extract_string_field(line, "command") == "marlstone-resolve-sound"));
  return 0;
}
