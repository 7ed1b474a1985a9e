#pragma once

#include <array>
#include <brackwater_dat/bytes.hpp>
#include <brackwater_dat/file_type/sound_table.hpp>
#include <cstdint>
#include <optional>
#include <vector>

namespace brackwater_dat::test_support {

struct HashRecord {
  std::uint32_t key;
  std::array<std::uint32_t, 3> words;
};

struct SoundRecord {
  std::uint32_t kind;
  std::vector<file_type::SoundEntry> entries;
  std::int32_t unknown = 0;
  std::optional<std::uint32_t> count = {};  // stored entry count, if not entries.size()
};

// A sound-table payload as it will be written; the counts default to the
// number of records.
struct SoundTablePayload {
  std::uint32_t id = 0x20000001;
  std::int32_t hash_key = 0;
  std::vector<HashRecord> hashes = {};
  std::vector<SoundRecord> sounds = {};
  std::optional<std::int32_t> hash_count = {};
  std::optional<std::int32_t> sound_count = {};
};

Bytes encode_sound_table(const SoundTablePayload& payload);

}  // namespace brackwater_dat::test_support
