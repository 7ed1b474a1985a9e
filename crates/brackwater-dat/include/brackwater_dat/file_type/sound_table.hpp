#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <unordered_map>
#include <vector>

#include "brackwater_dat/bytes.hpp"
#include "brackwater_dat/error.hpp"

namespace brackwater_dat::file_type {

// One weighted reference from a sound kind to a wave file (0x0Axxxxxx).
struct SoundEntry {
  std::uint32_t wave_did;  // 0 never names a wave
  float priority;
  float probability;
  float volume;
};

struct SoundData {
  std::vector<SoundEntry> entries;  // in payload order
  std::int32_t unknown;
};

// The three words that follow a hash record's key, bit for bit.
struct HashRow {
  std::array<std::uint32_t, 3> words;
};

// A decoded sound table (file type 0x20): sound kind to its wave entries.
class SoundTable {
 public:
  // Decodes a whole payload as get_file returns it. Later records replace
  // earlier ones with the same key; bytes after the last record are ignored.
  // The one failure is the payload ending inside a field.
  static std::expected<SoundTable, ParseError> unpack(ByteView bytes);

  // The wave of the sound kind's first entry; none when the kind is absent,
  // has no entries, or its first entry's wave is 0.
  std::optional<std::uint32_t> resolve_sound(std::uint32_t sound) const noexcept;

  std::uint32_t id() const noexcept { return id_; }
  std::int32_t hash_key() const noexcept { return hash_key_; }
  const std::unordered_map<std::uint32_t, HashRow>& hashes() const noexcept { return hashes_; }
  const std::unordered_map<std::uint32_t, SoundData>& sounds() const noexcept { return sounds_; }

 private:
  SoundTable() = default;

  std::uint32_t id_ = 0;
  std::int32_t hash_key_ = 0;
  std::unordered_map<std::uint32_t, HashRow> hashes_;
  std::unordered_map<std::uint32_t, SoundData> sounds_;
};

}  // namespace brackwater_dat::file_type
