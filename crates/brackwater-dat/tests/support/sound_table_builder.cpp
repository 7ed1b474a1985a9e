#include "support/sound_table_builder.hpp"

#include <bit>

namespace brackwater_dat::test_support {
namespace {

void append(Bytes& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

}  // namespace

Bytes encode_sound_table(const SoundTablePayload& payload) {
  Bytes out;
  append(out, payload.id);
  append(out, static_cast<std::uint32_t>(payload.hash_key));
  append(out, static_cast<std::uint32_t>(
                  payload.hash_count.value_or(static_cast<std::int32_t>(payload.hashes.size()))));
  for (const auto& hash : payload.hashes) {
    append(out, hash.key);
    for (std::uint32_t word : hash.words) append(out, word);
  }
  append(out, static_cast<std::uint32_t>(
                  payload.sound_count.value_or(static_cast<std::int32_t>(payload.sounds.size()))));
  for (const auto& sound : payload.sounds) {
    append(out, sound.kind);
    append(out, sound.count.value_or(static_cast<std::uint32_t>(sound.entries.size())));
    for (const auto& entry : sound.entries) {
      append(out, entry.wave_did);
      append(out, std::bit_cast<std::uint32_t>(entry.priority));
      append(out, std::bit_cast<std::uint32_t>(entry.probability));
      append(out, std::bit_cast<std::uint32_t>(entry.volume));
    }
    append(out, static_cast<std::uint32_t>(sound.unknown));
  }
  return out;
}

}  // namespace brackwater_dat::test_support
