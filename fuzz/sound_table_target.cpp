// SoundTable::unpack on arbitrary bytes, then every resolution.
#include <brackwater_dat/file_type/sound_table.hpp>
#include <cstdint>

#include "fuzz_check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using brackwater_dat::file_type::SoundTable;
  const auto table = SoundTable::unpack(brackwater_dat::ByteView(data, size));
  if (!table) {
    FUZZ_CHECK(brackwater_dat::debug_text(table.error()) == "failed to fill whole buffer");
    return 0;
  }
  for (const auto& [kind, sound] : table->sounds()) {
    const auto wave = table->resolve_sound(kind);
    const bool named = !sound.entries.empty() && sound.entries.front().wave_did != 0;
    FUZZ_CHECK(wave.has_value() == named);
    FUZZ_CHECK(!wave || *wave == sound.entries.front().wave_did);
  }
  for (std::uint32_t kind = 0; kind <= 204; ++kind) {
    FUZZ_CHECK(table->resolve_sound(kind).has_value() <= table->sounds().contains(kind));
  }
  return 0;
}
