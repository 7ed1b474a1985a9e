#include "support/synthetic_retail.hpp"

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <vector>

#include "support/archive_builder.hpp"
#include "support/sound_table_builder.hpp"

namespace brackwater_dat::test_support {
namespace {

using file_type::SoundEntry;

constexpr std::uint32_t kShieldTable = 0x20000001;
constexpr std::uint32_t kSwooshTable = 0x200000A8;
constexpr std::uint32_t kHighestKind = 204;
// The waves the tables draw from: few enough that the archive holds each.
constexpr std::uint32_t kFirstWave = 0x0A000300;
constexpr std::uint32_t kWaves = 0x100;

SoundEntry entry(std::uint32_t wave, float probability) {
  return SoundEntry{wave, 1.0f, probability, 0.75f};
}

// Pseudo-random records for the kinds 0..204, some absent, some empty, some
// with a silent first entry, some written twice; then the pinned ones.
SoundTablePayload sound_table(std::uint32_t id, std::uint32_t seed,
                              const std::vector<SoundRecord>& pinned) {
  std::mt19937 random(seed);  // 32-bit draws
  SoundTablePayload payload{.id = id, .hash_key = static_cast<std::int32_t>(seed * 977)};
  for (std::uint32_t h = 0; h < 24; ++h) {
    payload.hashes.push_back(HashRecord{
        h % 20, {std::uint32_t(random()), std::uint32_t(random()), std::uint32_t(random())}});
  }
  for (std::uint32_t kind = 0; kind <= kHighestKind; ++kind) {
    const std::uint32_t roll = random() % 100;
    if (roll < 15) continue;
    SoundRecord record{kind, {}, static_cast<std::int32_t>(random() % 7) - 3};
    const std::uint32_t count = roll < 22 ? 0 : 1 + random() % 4;
    for (std::uint32_t e = 0; e < count; ++e) {
      record.entries.push_back(entry(kFirstWave + random() % kWaves, 1.0f / (e + 1)));
    }
    if (roll >= 22 && roll < 27) record.entries.front().wave_did = 0;
    if (roll >= 90) {  // an earlier record that the later one replaces
      SoundRecord stale = record;
      stale.entries = {entry(0x0A00F000 + kind, 1.0f)};
      payload.sounds.push_back(stale);
    }
    payload.sounds.push_back(record);
  }
  // Kinds beyond the enumeration, and the pinned records last so that they win.
  payload.sounds.push_back(SoundRecord{0x158, {entry(0x0A000158, 1.0f)}, 0});
  payload.sounds.push_back(SoundRecord{0x10000046, {entry(0x0A010046, 1.0f)}, 0});
  for (const auto& record : pinned) {
    payload.sounds.push_back(SoundRecord{record.kind, {entry(0x0A00EEEE, 1.0f)}, 0});
    payload.sounds.push_back(record);
  }
  return payload;
}

// What each kind 0..204 resolves to, by the payload's own records: the last
// record of a kind holds, and its first entry's wave, unless 0, answers.
void record_answers(const SoundTablePayload& payload, RetailAnswers& answers) {
  for (std::uint32_t kind = 0; kind <= kHighestKind; ++kind) {
    std::optional<std::uint32_t> answer;
    for (const auto& record : payload.sounds) {
      if (record.kind != kind) continue;
      answer = std::nullopt;
      if (!record.entries.empty() && record.entries.front().wave_did != 0) {
        answer = record.entries.front().wave_did;
      }
    }
    answers[{payload.id, kind}] = answer;
  }
}

Bytes other_file(std::uint32_t id, std::mt19937& random) {
  std::size_t size = 40 + random() % 3000;
  if (id % 50 == 0) size += 20000;
  Bytes bytes(size);
  const std::uint8_t period = static_cast<std::uint8_t>(3 + random() % 13);
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<std::uint8_t>(i % period == 0 ? random() : i % period + (id & 0x3F));
  }
  return bytes;
}

// Adds the wave each kind of the payload resolves to (the last record of a
// kind holds; its first entry's wave, unless 0) to `waves`.
void add_resolved_waves(const SoundTablePayload& payload, std::set<std::uint32_t>& waves) {
  std::map<std::uint32_t, std::uint32_t> last;
  for (const auto& record : payload.sounds) {
    last[record.kind] = record.entries.empty() ? 0 : record.entries.front().wave_did;
  }
  for (const auto& [kind, wave] : last) {
    if (wave != 0) waves.insert(wave);
  }
}

// A wave file's bytes: a few to a few tens of KB of a sampled tone.
Bytes wave_file(std::uint32_t id, std::mt19937& random) {
  Bytes bytes(2000 + random() % 30000);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<std::uint8_t>(128 + ((i * (id & 0xF) + i / 7) % 64) - 32);
  }
  return bytes;
}

}  // namespace

std::optional<RetailVariant> parse_retail_variant(std::string_view name) {
  if (name == "good") return RetailVariant::Good;
  if (name == "missing-swoosh-table") return RetailVariant::MissingSwooshTable;
  if (name == "enchant-down-drifts") return RetailVariant::EnchantDownDrifts;
  if (name == "enchant-down-drifts-no-swoosh") return RetailVariant::EnchantDownDriftsNoSwoosh;
  if (name == "ambient-plays") return RetailVariant::AmbientPlays;
  if (name == "invalid-plays") return RetailVariant::InvalidPlays;
  if (name == "truncated-shield-table") return RetailVariant::TruncatedShieldTable;
  return std::nullopt;
}

SyntheticRetail build_synthetic_retail(RetailVariant variant) {
  using enum RetailVariant;
  const bool drifts = variant == EnchantDownDrifts || variant == EnchantDownDriftsNoSwoosh;
  const bool no_swoosh = variant == MissingSwooshTable || variant == EnchantDownDriftsNoSwoosh;
  std::vector<SoundRecord> pinned = {
      SoundRecord{0x58, {entry(0x0A000262, 0.25f), entry(0x0A000263, 0.75f)}, 0},
      SoundRecord{0x5B, {entry(drifts ? 0x0A000275 : 0x0A000274, 1.0f)}, 0},
      SoundRecord{0x46, {}, 5}};
  if (variant == AmbientPlays) pinned.back().entries = {entry(0x0A000046, 1.0f)};
  if (variant == InvalidPlays)
    pinned.push_back(SoundRecord{0xFFFFFFFF, {entry(0x0A00FFFF, 1.0f)}, 0});
  const SoundTablePayload shield = sound_table(kShieldTable, 1, pinned);
  const SoundTablePayload swoosh =
      sound_table(kSwooshTable, 2,
                  {SoundRecord{0x1F, {entry(0x0A000519, 0.5f), entry(0x0A00051A, 0.5f)}, 0},
                   SoundRecord{0x46, {entry(0, 0.9f), entry(0x0A000777, 0.1f)}, 0}});

  SyntheticRetail retail;
  record_answers(shield, retail.answers);
  record_answers(swoosh, retail.answers);

  ArchiveBuilder builder(1024);
  builder.header().magic = 0x00005442;
  builder.header().file_size = 0;  // filled in below
  builder.header().engine_version = 0x16;
  builder.header().game_version = 0xB4;
  std::vector<DatFileEntry> entries;

  Bytes shield_bytes = encode_sound_table(shield);
  if (variant == TruncatedShieldTable) shield_bytes.resize(shield_bytes.size() - 3);
  entries.push_back(builder.store_file(kShieldTable, shield_bytes, true, ChainLayout::Scattered));
  if (!no_swoosh) {
    entries.push_back(builder.store_file(kSwooshTable, encode_sound_table(swoosh), true));
  }

  std::mt19937 random(99);
  // Every wave a table of the archive resolves to is a file of it, so that
  // each answer can be followed to its bytes.
  std::set<std::uint32_t> waves;
  add_resolved_waves(shield, waves);
  add_resolved_waves(swoosh, waves);
  for (std::uint32_t i = 0; i < 320; ++i) {
    static constexpr std::uint32_t kTypes[] = {0x01000000, 0x06000000, 0x0A000000, 0x20000000};
    const std::uint32_t type = kTypes[i % 4];
    const std::uint32_t id = type + 0x100 + i;
    Bytes contents;
    if (type == 0x20000000) {
      const SoundTablePayload table = sound_table(id, 100 + i, {});
      add_resolved_waves(table, waves);
      contents = encode_sound_table(table);
    } else {
      contents = other_file(id, random);
    }
    entries.push_back(builder.store_file(id, contents, i % 3 == 0,
                                         i % 2 ? ChainLayout::Scattered : ChainLayout::Contiguous));
  }
  for (const std::uint32_t wave : waves) {
    entries.push_back(builder.store_file(wave, wave_file(wave, random), false));
  }
  std::shuffle(entries.begin(), entries.end(), random);
  builder.header().root_offset = builder.store_tree(entries, 4);
  builder.header().file_size = static_cast<std::uint32_t>(builder.size());
  retail.image = builder.image();
  return retail;
}

}  // namespace brackwater_dat::test_support
