#include <gtest/gtest.h>

#include <bit>
#include <brackwater_dat/file_type/sound_table.hpp>
#include <cmath>
#include <functional>

#include "support/sound_table_builder.hpp"

namespace {

using namespace brackwater_dat;
using file_type::SoundEntry;
using file_type::SoundTable;
using test_support::encode_sound_table;
using test_support::SoundRecord;
using test_support::SoundTablePayload;

SoundEntry wave(std::uint32_t id, float probability = 1.0f) {
  return SoundEntry{id, 0.5f, probability, 0.8f};
}

Bytes concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// ---- failures ----

struct FailureCase {
  std::string name;
  Bytes payload;
  // Named in test listings, rather than dumped as bytes.
  friend void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }
};

class SoundTableEndOfData : public ::testing::TestWithParam<FailureCase> {};

TEST_P(SoundTableEndOfData, FailsWithTheBareError) {
  const auto table = SoundTable::unpack(GetParam().payload);
  ASSERT_FALSE(table.has_value());
  EXPECT_EQ(debug_text(table.error()), "failed to fill whole buffer");
  EXPECT_EQ(display_text(table.error()), "failed to fill whole buffer");
  EXPECT_TRUE(table.error().frames().empty());
  EXPECT_EQ(table.error().cause().kind(), IoErrorKind::UnexpectedEof);
}

Bytes cut(Bytes bytes, std::size_t drop) {
  bytes.resize(bytes.size() - drop);
  return bytes;
}

const SoundTablePayload kOneSound{.sounds = {SoundRecord{7, {wave(0x0A000001)}, -1}}};

INSTANTIATE_TEST_SUITE_P(
    Payloads, SoundTableEndOfData,
    ::testing::Values(
        FailureCase{"Empty", {}}, FailureCase{"ElevenBytes", Bytes(11)},
        FailureCase{"NoSoundCount", Bytes(12)},
        FailureCase{"HashRecordCut", cut(encode_sound_table({.hashes = {{1, {2, 3, 4}}}}), 5)},
        FailureCase{"LastUnknownCutByOne", cut(encode_sound_table(kOneSound), 1)},
        FailureCase{"EntryCut", cut(encode_sound_table(kOneSound), 6)},
        FailureCase{"KindOnly", cut(encode_sound_table(kOneSound), 4 + 16 + 4)},
        FailureCase{"HugeHashCount", encode_sound_table({.hash_count = 0x7FFFFFFF})},
        FailureCase{"HugeSoundCount", encode_sound_table({.sound_count = 0x7FFFFFFF})},
        FailureCase{"HugeEntryCount",
                    encode_sound_table({.sounds = {SoundRecord{1, {wave(2)}, 0, 0xFFFFFFFF}}})}),
    [](const auto& info) { return info.param.name; });

// ---- decoding ----

TEST(SoundTable, ShortestPayloadIsEmpty) {
  const auto table = SoundTable::unpack(Bytes(16));
  ASSERT_TRUE(table.has_value());
  EXPECT_TRUE(table->hashes().empty());
  EXPECT_TRUE(table->sounds().empty());
  EXPECT_EQ(table->id(), 0u);
}

TEST(SoundTable, NegativeHashCountMeansNoneAndSoundCountFollows) {
  Bytes bytes = encode_sound_table({.id = 0x200000A8, .hash_key = -5, .hash_count = -1});
  const auto table = SoundTable::unpack(bytes);
  ASSERT_TRUE(table.has_value());
  EXPECT_EQ(table->id(), 0x200000A8u);
  EXPECT_EQ(table->hash_key(), -5);
  EXPECT_TRUE(table->hashes().empty());
  // The count at offset 12 is S: one sound record follows.
  bytes = concat(Bytes(bytes.begin(), bytes.begin() + 12),
                 Bytes{1, 0, 0, 0, 9, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0});
  const auto one = SoundTable::unpack(bytes);
  ASSERT_TRUE(one.has_value());
  ASSERT_EQ(one->sounds().size(), 1u);
  EXPECT_EQ(one->sounds().at(9).unknown, 3);
  EXPECT_TRUE(one->sounds().at(9).entries.empty());
}

TEST(SoundTable, NegativeSoundCountIgnoresWhatFollows) {
  const Bytes bytes = concat(encode_sound_table({.sound_count = -3}), Bytes{1, 2, 3});
  const auto table = SoundTable::unpack(bytes);
  ASSERT_TRUE(table.has_value());
  EXPECT_TRUE(table->sounds().empty());
}

TEST(SoundTable, LaterRecordsReplaceEarlierOnes) {
  const auto table = SoundTable::unpack(
      encode_sound_table({.hashes = {{5, {1, 2, 3}}, {6, {0, 0, 0}}, {5, {7, 8, 9}}},
                          .sounds = {SoundRecord{4, {wave(0x0A000001), wave(0x0A000002)}, 11},
                                     SoundRecord{4, {wave(0x0A000003)}, 12}}}));
  ASSERT_TRUE(table.has_value());
  EXPECT_EQ(table->hashes().size(), 2u);
  EXPECT_EQ(table->hashes().at(5).words, (std::array<std::uint32_t, 3>{7, 8, 9}));
  ASSERT_EQ(table->sounds().size(), 1u);
  const auto& data = table->sounds().at(4);
  ASSERT_EQ(data.entries.size(), 1u);
  EXPECT_EQ(data.entries[0].wave_did, 0x0A000003u);
  EXPECT_EQ(data.unknown, 12);
}

TEST(SoundTable, EmptyEntryListKeepsTheKind) {
  const auto table = SoundTable::unpack(encode_sound_table({.sounds = {SoundRecord{70, {}, 0}}}));
  ASSERT_TRUE(table.has_value());
  ASSERT_TRUE(table->sounds().contains(70));
  EXPECT_TRUE(table->sounds().at(70).entries.empty());
}

TEST(SoundTable, TrailingBytesAreIgnored) {
  const Bytes bytes = encode_sound_table(kOneSound);
  const auto plain = SoundTable::unpack(bytes);
  const auto trailed = SoundTable::unpack(concat(bytes, Bytes{0xFF, 0xFF, 0xFF, 0xFF, 1}));
  ASSERT_TRUE(plain.has_value() && trailed.has_value());
  EXPECT_EQ(trailed->sounds().size(), 1u);
  EXPECT_EQ(trailed->sounds().at(7).unknown, -1);
  EXPECT_EQ(trailed->resolve_sound(7), plain->resolve_sound(7));
}

TEST(SoundTable, FloatsKeepTheirBits) {
  const float signalling_nan = std::bit_cast<float>(0x7FA00001u);
  const float negative_zero = std::bit_cast<float>(0x80000000u);
  const float quiet_nan = std::bit_cast<float>(0xFFC12345u);
  const auto table = SoundTable::unpack(encode_sound_table(
      {.sounds = {SoundRecord{1, {SoundEntry{5, signalling_nan, negative_zero, quiet_nan}}, 0}}}));
  ASSERT_TRUE(table.has_value());
  const SoundEntry& entry = table->sounds().at(1).entries.at(0);
  EXPECT_EQ(std::bit_cast<std::uint32_t>(entry.priority), 0x7FA00001u);
  EXPECT_EQ(std::bit_cast<std::uint32_t>(entry.probability), 0x80000000u);
  EXPECT_EQ(std::bit_cast<std::uint32_t>(entry.volume), 0xFFC12345u);
}

// ---- resolution ----

struct ResolveCase {
  std::string name;
  SoundTablePayload payload;
  std::uint32_t sound;
  std::optional<std::uint32_t> wave;
  // Named in test listings, rather than dumped as bytes.
  friend void PrintTo(const ResolveCase& c, std::ostream* os) { *os << c.name; }
};

class ResolveSound : public ::testing::TestWithParam<ResolveCase> {};

TEST_P(ResolveSound, TakesTheFirstEntrysWave) {
  const auto table = SoundTable::unpack(encode_sound_table(GetParam().payload));
  ASSERT_TRUE(table.has_value());
  EXPECT_EQ(table->resolve_sound(GetParam().sound), GetParam().wave);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, ResolveSound,
    ::testing::Values(
        ResolveCase{"EmptyTable", {}, 0, std::nullopt},
        ResolveCase{
            "AbsentKind", {.sounds = {SoundRecord{1, {wave(0x0A000001)}, 0}}}, 2, std::nullopt},
        ResolveCase{"EmptyEntries", {.sounds = {SoundRecord{70, {}, 0}}}, 70, std::nullopt},
        ResolveCase{"FirstWaveZero",
                    {.sounds = {SoundRecord{70, {wave(0), wave(0x0A000009)}, 0}}},
                    70,
                    std::nullopt},
        ResolveCase{
            "FirstEntryWhateverTheWeights",
            {.sounds = {SoundRecord{88, {wave(0x0A000262, 0.0f), wave(0x0A000263, 1.0f)}, 0}}},
            88,
            0x0A000262},
        ResolveCase{"LaterRecordDecides",
                    {.sounds = {SoundRecord{91, {wave(0x0A000001)}, 0},
                                SoundRecord{91, {wave(0x0A000274)}, 0}}},
                    91,
                    0x0A000274},
        ResolveCase{"HighBitsMatter",
                    {.sounds = {SoundRecord{0x158, {wave(0x0A000001)}, 0}}},
                    0x58,
                    std::nullopt},
        ResolveCase{"FullWidthKind",
                    {.sounds = {SoundRecord{0xFFFFFFFF, {wave(0x0A00FFFF)}, 0}}},
                    0xFFFFFFFF,
                    0x0A00FFFF}),
    [](const auto& info) { return info.param.name; });

}  // namespace
