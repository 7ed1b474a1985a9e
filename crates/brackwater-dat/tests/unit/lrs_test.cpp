#include <gtest/gtest.h>

#include <brackwater_dat/utils.hpp>
#include <random>
#include <string>

#include "support/lrs_codec.hpp"
#include "support/lrs_oracle.hpp"

namespace {

using brackwater_dat::Bytes;
using brackwater_dat::test_support::compress_lrs;
using brackwater_dat::test_support::decompress_lrs_reference;
using brackwater_dat::utils::decompress_lrs;

struct Vector {
  std::string name;
  Bytes input;
  Bytes output;
  // Named in test listings, rather than dumped as bytes.
  friend void PrintTo(const Vector& c, std::ostream* os) { *os << c.name; }
};

class LrsVectors : public ::testing::TestWithParam<Vector> {};

TEST_P(LrsVectors, DecodeExactly) {
  EXPECT_EQ(decompress_lrs(GetParam().input), GetParam().output);
  EXPECT_EQ(decompress_lrs_reference(GetParam().input), GetParam().output);
}

Bytes eight_literals_then_flag() { return {0x0C, 0, 0, 0, 0x00, 1, 2, 3, 4, 5, 6, 7, 8, 0x00, 9}; }

INSTANTIATE_TEST_SUITE_P(
    Streams, LrsVectors,
    ::testing::Values(
        Vector{"Empty", {}, {}}, Vector{"OneByte", {0x07}, {0x07}},
        Vector{"TwoBytes", {0x07, 0x08}, {0x07, 0x08}},
        Vector{"ThreeBytes", {0x07, 0x08, 0x09}, {0x07, 0x08, 0x09}},
        Vector{"ZeroLength", {0, 0, 0, 0, 0x00, 0x61, 0x62}, {}},
        Vector{"PrefixOnly", {0x05, 0, 0, 0}, {}},
        Vector{"LiteralThenRun", {0x06, 0, 0, 0, 0x40, 0x61, 0x01, 0x03}, Bytes(6, 0x61)},
        Vector{"RunCutAtLength", {0x04, 0, 0, 0, 0x40, 0x61, 0x01, 0x03}, Bytes(4, 0x61)},
        Vector{"StreamEndsFirst", {0x14, 0, 0, 0, 0x40, 0x61, 0x01, 0x03}, Bytes(6, 0x61)},
        Vector{"DistancePastOutputCopiesFromStart",
               {0x0A, 0, 0, 0, 0x20, 0x78, 0x79, 0x05, 0x01},
               {0x78, 0x79, 0x78, 0x78, 0x78}},
        Vector{"DistanceZeroEnds", {0x09, 0, 0, 0, 0x40, 0x61, 0x00, 0x05}, {0x61}},
        Vector{"EightLiteralsThenNewFlag", eight_literals_then_flag(), {1, 2, 3, 4, 5, 6, 7, 8, 9}},
        Vector{"TrailingFlagByteEnds",
               {0x09, 0, 0, 0, 0x00, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0xFF},
               {0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68}},
        Vector{"ReferenceCutOffEnds", {0x09, 0, 0, 0, 0x40, 0x61, 0x01}, {0x61}},
        Vector{"ReferenceBeforeOutputEnds", {0x09, 0, 0, 0, 0x80, 0x01, 0x03, 0x61}, {}},
        Vector{"LongestReference", {0xFF, 0, 0, 0, 0x40, 0x61, 0x01, 0x0F}, Bytes(18, 0x61)},
        // Distance 2 over "ab": the copy overlaps what it writes.
        Vector{"OverlappingPeriodTwo",
               {0x0C, 0, 0, 0, 0x20, 0x61, 0x62, 0x02, 0x08},
               {0x61, 0x62, 0x61, 0x62, 0x61, 0x62, 0x61, 0x62, 0x61, 0x62, 0x61, 0x62}},
        // Distance 3 over "ab": the first byte comes from position 0, then the
        // distance reaches back normally.
        Vector{"DistanceOverOutputThenNormal",
               {0x08, 0, 0, 0, 0x20, 0x61, 0x62, 0x03, 0x04},
               {0x61, 0x62, 0x61, 0x61, 0x62, 0x61, 0x61, 0x62}}),
    [](const auto& info) { return info.param.name; });

TEST(Lrs, ReferenceFieldsSplitAsNibbles) {
  // b0 = 0x34, b1 = 0x5F: distance 0x534, length 17. With 0x534 + 1 bytes of
  // output before it, the copy starts at the first of them.
  Bytes data(0x535);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
  Bytes stream;
  for (std::size_t i = 0; i < data.size(); i += 8) {
    stream.push_back(0x00);
    for (std::size_t k = i; k < std::min(i + 8, data.size()); ++k) stream.push_back(data[k]);
  }
  // 0x535 = 166 * 8 + 5: three bits of the last flag byte remain, one for the reference.
  stream[stream.size() - 6] = 0x04;
  stream.push_back(0x34);
  stream.push_back(0x5F);
  Bytes input = {0xFF, 0xFF, 0, 0};
  input.insert(input.end(), stream.begin(), stream.end());

  Bytes expected = data;
  for (std::size_t k = 0; k < 17; ++k) expected.push_back(expected[expected.size() - 0x534]);
  EXPECT_EQ(decompress_lrs(input), expected);
}

TEST(Lrs, HugeLengthPrefixReservesOnlyWhatTheStreamCanYield) {
  Bytes input = {0xFF, 0xFF, 0xFF, 0xFF, 0x40, 0x61, 0x01, 0x03};
  const Bytes out = decompress_lrs(input);
  EXPECT_EQ(out, Bytes(6, 0x61));
  EXPECT_LE(out.capacity(), 64u);
}

TEST(Lrs, RoundTripsTheEncoder) {
  std::mt19937 random(7);
  for (std::size_t size : {1u, 2u, 17u, 18u, 1000u, 70000u}) {
    Bytes text(size);
    for (auto& byte : text) byte = static_cast<std::uint8_t>("abcab  \n"[random() % 8]);
    EXPECT_EQ(decompress_lrs(compress_lrs(text)), text) << size;
    Bytes noise(size);
    for (auto& byte : noise) byte = static_cast<std::uint8_t>(random());
    EXPECT_EQ(decompress_lrs(compress_lrs(noise)), noise) << size;
  }
}

TEST(Lrs, MatchesTheByteAtATimeDecoderOnArbitraryStreams) {
  std::mt19937 random(11);
  for (int round = 0; round < 3000; ++round) {
    Bytes input(random() % 64);
    for (auto& byte : input) byte = static_cast<std::uint8_t>(random());
    if (input.size() >= 4 && round % 2 == 0) input[2] = input[3] = 0;  // plausible lengths
    ASSERT_EQ(decompress_lrs(input), decompress_lrs_reference(input)) << round;
  }
}

// Long streams of well-formed tokens, drawn so that every decoding path is
// taken many times: runs of all-literal groups, groups of mixed tokens with
// far and near references, references reaching before the output's start,
// an early end marker, and length prefixes shorter and longer than the
// stream yields.
struct TokenMix {
  const char* name;
  unsigned literal_percent;  // chance that a token is a literal
  unsigned far_percent;      // chance that a reference's distance is 8 or more
  unsigned end_permille;     // chance that a reference is the end marker
  friend void PrintTo(const TokenMix& mix, std::ostream* os) { *os << mix.name; }
};

class LrsTokenStreams : public ::testing::TestWithParam<TokenMix> {};

TEST_P(LrsTokenStreams, DecodeAsTheByteAtATimeDecoderDoes) {
  const TokenMix mix = GetParam();
  std::mt19937 random(mix.literal_percent * 131 + mix.far_percent);
  for (int round = 0; round < 400; ++round) {
    Bytes stream;
    const std::size_t groups = 1 + random() % 120;
    std::size_t yielded = 0;
    for (std::size_t g = 0; g < groups; ++g) {
      const std::size_t flags_at = stream.size();
      stream.push_back(0);
      for (unsigned bit = 0; bit < 8; ++bit) {
        if (random() % 100 < mix.literal_percent) {
          stream.push_back(static_cast<std::uint8_t>(random()));
          yielded += 1;
          continue;
        }
        stream[flags_at] |= static_cast<std::uint8_t>(0x80 >> bit);
        std::size_t distance =
            random() % 100 < mix.far_percent ? 8 + random() % 4088 : 1 + random() % 7;
        if (random() % 1000 < mix.end_permille) distance = 0;
        const std::size_t count_code = random() % 16;
        stream.push_back(static_cast<std::uint8_t>(distance));
        stream.push_back(static_cast<std::uint8_t>((distance >> 8) << 4 | count_code));
        yielded += count_code + 2;
      }
    }
    // The exact size, a cut, and a prefix that promises more than the stream.
    const std::size_t limits[] = {yielded, random() % (yielded + 1), yielded + 1 + random() % 64};
    for (std::size_t limit : limits) {
      Bytes input = {static_cast<std::uint8_t>(limit), static_cast<std::uint8_t>(limit >> 8),
                     static_cast<std::uint8_t>(limit >> 16), 0};
      input.insert(input.end(), stream.begin(), stream.end());
      ASSERT_EQ(decompress_lrs(input), decompress_lrs_reference(input))
          << mix.name << " round " << round << " limit " << limit;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Mixes, LrsTokenStreams,
                         ::testing::Values(TokenMix{"mostly_literals", 95, 80, 0},
                                           TokenMix{"even", 50, 80, 2},
                                           TokenMix{"mostly_far_references", 10, 95, 1},
                                           TokenMix{"near_references", 30, 10, 0},
                                           TokenMix{"all_references", 0, 50, 0},
                                           TokenMix{"all_literals", 100, 0, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
