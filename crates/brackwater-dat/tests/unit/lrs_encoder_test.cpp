#include <gtest/gtest.h>

#include <algorithm>
#include <brackwater_dat/lrs_encoder.hpp>
#include <brackwater_dat/utils.hpp>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <random>
#include <vector>

#include "support/lrs_oracle.hpp"
#include "support/realistic_archives.hpp"

namespace {

using brackwater_dat::Bytes;
using brackwater_dat::ByteView;
using brackwater_dat::LrsLevel;
using brackwater_dat::test_support::ContentKind;
using brackwater_dat::test_support::decompress_lrs_strict;
using brackwater_dat::test_support::make_content;
using brackwater_dat::utils::compress_lrs;
using brackwater_dat::utils::decompress_lrs;

// The shortest stream by brute force: every token at every position (each
// distance 1 to 4095 that reaches no further back than the output, each
// length 2 to 17 that matches), the stream's bytes counted with a flag byte
// for each group of eight tokens. Memoised on (position, tokens modulo 8).
std::size_t exhaustive_optimum(ByteView data) {
  const std::size_t n = data.size();
  std::vector<std::size_t> longest(n, 0);
  for (std::size_t at = 0; at < n; ++at) {
    for (std::size_t distance = 1; distance <= std::min<std::size_t>(at, 4095); ++distance) {
      std::size_t length = 0;
      while (length < 17 && at + length < n && data[at + length] == data[at + length - distance]) {
        ++length;
      }
      if (length >= 2) longest[at] = std::max(longest[at], length);
    }
  }
  constexpr std::size_t kUnknown = std::numeric_limits<std::size_t>::max();
  std::vector<std::size_t> memo((n + 1) * 8, kUnknown);
  auto rest = [&](auto& self, std::size_t at, std::size_t tokens) -> std::size_t {
    if (at == n) return 0;
    std::size_t& known = memo[at * 8 + tokens];
    if (known != kUnknown) return known;
    const std::size_t flag = tokens == 0 ? 1 : 0;
    std::size_t best = flag + 1 + self(self, at + 1, (tokens + 1) % 8);
    for (std::size_t length = 2; length <= longest[at]; ++length) {
      best = std::min(best, flag + 2 + self(self, at + length, (tokens + 1) % 8));
    }
    return known = best;
  };
  return 4 + rest(rest, 0, 0);
}

Bytes random_bytes(std::mt19937& random, std::size_t size, unsigned alphabet) {
  Bytes bytes(size);
  for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random() % alphabet);
  return bytes;
}

// Inputs whose best parse is not greedy: short repeats over small alphabets,
// where the flag bytes' grouping decides between equal token counts, and one
// that repeats exactly at the window's edge and just beyond it.
std::vector<Bytes> optimum_inputs() {
  std::mt19937 random(31);
  std::vector<Bytes> inputs;
  for (int i = 0; i < 400; ++i) {
    inputs.push_back(random_bytes(random, 1 + random() % 60, 2 + random() % 3));
  }
  Bytes edge = random_bytes(random, 4095, 256);
  for (std::size_t k = 0; k < 20; ++k) edge.push_back(edge[edge.size() - 4095]);
  for (std::size_t k = 0; k < 20; ++k) edge.push_back(edge[edge.size() - 4096]);
  inputs.push_back(edge);
  inputs.push_back(make_content(ContentKind::Text, 3000, 7));
  inputs.push_back(make_content(ContentKind::Table, 3000, 8));
  return inputs;
}

TEST(LrsEncoder, BestIsTheExhaustiveOptimum) {
  for (const Bytes& input : optimum_inputs()) {
    auto best = compress_lrs(input, LrsLevel::best);
    ASSERT_TRUE(best);
    ASSERT_EQ(decompress_lrs_strict(*best), input);
    ASSERT_EQ(best->size(), exhaustive_optimum(input)) << "input of " << input.size() << " bytes";
  }
}

// Every committed fuzz input, and content of each kind and size, come back
// through the reader's decoder exactly, in streams a writer may make; best
// is never longer than fast, and fast stays within a tenth of best where the
// content is of the kind the game stores compressed.
TEST(LrsEncoder, RoundTripsThroughTheReader) {
  std::vector<std::pair<Bytes, bool>> inputs;  // and whether fast must be near best
  for (const char* corpus : {"lrs", "lrs_round_trip", "lrs_encoder", "dat_database"}) {
    for (const auto& file :
         std::filesystem::directory_iterator(std::filesystem::path(FUZZ_CORPUS_DIR) / corpus)) {
      std::ifstream in(file.path(), std::ios::binary);
      inputs.push_back({Bytes(std::istreambuf_iterator<char>(in), {}), false});
    }
  }
  ASSERT_GT(inputs.size(), 10u);
  for (std::size_t size : {0, 1, 2, 17, 18, 4096, 70000}) {
    inputs.push_back({make_content(ContentKind::Text, size, 1), size > 4000});
    inputs.push_back({make_content(ContentKind::Table, size, 2), size > 4000});
    inputs.push_back({make_content(ContentKind::Noise, size, 3), false});
    inputs.push_back({Bytes(size, 0x61), false});
  }
  for (const auto& [input, near] : inputs) {
    auto fast = compress_lrs(input, LrsLevel::fast);
    auto best = compress_lrs(input, LrsLevel::best);
    ASSERT_TRUE(fast && best);
    EXPECT_EQ(decompress_lrs(*fast), input);
    EXPECT_EQ(decompress_lrs(*best), input);
    EXPECT_EQ(decompress_lrs_strict(*fast), input);
    EXPECT_EQ(decompress_lrs_strict(*best), input);
    EXPECT_LE(best->size(), fast->size());
    if (near) {
      EXPECT_LE(fast->size() * 10, best->size() * 11) << input.size() << " bytes";
    }
  }
}

TEST(LrsEncoder, RefusesWhatThePrefixCannotState) {
  // Never read: the length is refused first.
  const std::uint8_t byte = 0;
  const std::span<const std::uint8_t> huge(&byte, std::size_t{1} << 32);
  for (LrsLevel level : {LrsLevel::fast, LrsLevel::best}) {
    auto packed = compress_lrs(huge, level);
    ASSERT_FALSE(packed);
    EXPECT_TRUE(std::holds_alternative<brackwater_dat::DatError::Other>(packed.error().value));
  }
}

}  // namespace
