// The reader's chain reads, which read runs of adjacent blocks ahead of need,
// against the one-block-at-a-time form: the same bytes and the same error for
// random chains of every shape (contiguous, scattered, broken runs, loops,
// early ends, links past the end or across 2^32), from memory, a file, a
// source that fails wherever a poisoned range is touched, and a sparse
// source larger than 4 GiB.
#include <gtest/gtest.h>

#include <algorithm>
#include <brackwater_dat/dat_database.hpp>
#include <cstring>
#include <random>

#include "support/chain_reference.hpp"
#include "support/fault_source.hpp"
#include "unit/archive_test.hpp"

namespace {

using namespace brackwater_dat;
using namespace brackwater_dat::test_support;

using Outcome = std::variant<Bytes, std::string>;

struct PlantedRead {
  std::uint32_t first_block;
  std::uint32_t size;
};

void put_u32(Bytes& image, std::uint64_t at, std::uint32_t value) {
  if (at + 4 > image.size()) return;
  for (int i = 0; i < 4; ++i) image[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Lays random chains over random bytes; returns the reads to make of them.
// `base` is where the image's bytes sit in the archive.
std::vector<PlantedRead> plant_chains(Bytes& image, std::uint64_t base, std::uint32_t block_size,
                                      std::uint64_t length, std::mt19937& random) {
  std::vector<PlantedRead> reads;
  const std::uint32_t capacity = block_size - 4;
  const auto position = [&] { return static_cast<std::uint32_t>(base + random() % image.size()); };
  for (int chain = 0; chain < 8; ++chain) {
    const std::uint32_t blocks = 1 + random() % 40;
    std::vector<std::uint32_t> at{position()};
    const std::uint32_t layout = random() % 4;
    for (std::uint32_t i = 1; i < blocks; ++i) {
      const bool jump = layout == 1 || (layout == 2 && i == blocks / 2);
      at.push_back(jump ? position() : at.back() + block_size);
    }
    for (std::uint32_t i = 0; i + 1 < blocks; ++i) put_u32(image, at[i] - base, at[i + 1]);
    const std::uint32_t end = random() % 4;
    const std::uint32_t last_link = end == 0 ? 0
                                    : end == 1
                                        ? static_cast<std::uint32_t>(length + random() % 5000)
                                    : end == 2 ? at.front()  // back to its start
                                               : static_cast<std::uint32_t>(random());
    put_u32(image, at.back() - base, last_link);
    const std::uint64_t span = std::uint64_t{blocks} * std::max<std::uint32_t>(capacity, 1);
    for (int k = 0; k < 3; ++k) {
      const auto size =
          static_cast<std::uint32_t>(std::min<std::uint64_t>(random() % (span + 3000), 0xFFFFFFFF));
      reads.push_back({at.front(), size});
    }
  }
  reads.push_back({position(), static_cast<std::uint32_t>(random() % 5000)});
  reads.push_back({position(), static_cast<std::uint32_t>(length + 1)});
  return reads;
}

// The read's bytes or error. The checkers' read_chain must give the same,
// with the blocks chain_blocks lists and an early end exactly where the last
// of them gave more than a block holds.
Outcome read_with(const DatDatabase& db, PlantedRead read) {
  auto data = db.read_file_data(read.first_block, read.size);
  const auto checked = db.read_chain(read.first_block, read.size);
  EXPECT_EQ(checked.has_value(), data.has_value());
  if (checked && data) {
    EXPECT_TRUE(checked->data == *data);
    const auto blocks = db.chain_blocks(read.first_block, read.size);
    EXPECT_TRUE(blocks && checked->blocks == *blocks);
    // A walk told to stop halfway has seen the blocks up to there, and no more.
    std::vector<ChainBlock> seen;
    const std::size_t stop = checked->blocks.size() / 2;
    EXPECT_TRUE(db.visit_chain(read.first_block, read.size, [&](const ChainBlock& block) {
      seen.push_back(block);
      return seen.size() <= stop;
    }));
    const std::size_t seen_count = std::min(stop + 1, checked->blocks.size());
    EXPECT_TRUE(std::ranges::equal(seen, std::span(checked->blocks).first(seen_count)));
    const std::uint32_t capacity = db.header().block_size - 4;
    EXPECT_EQ(checked->ended_early,
              !checked->blocks.empty() && checked->blocks.back().bytes > capacity);
  } else if (!checked && !data) {
    EXPECT_EQ(debug_text(checked.error()), debug_text(data.error()));
  }
  if (!data) return debug_text(data.error());
  return std::move(*data);
}

// Errors agree in full, except that a chain that never ends is named by the
// blocks where its loop was found, which the plain form does not track.
void expect_same(const Outcome& got, const Outcome& expected, PlantedRead read,
                 std::uint32_t block_size) {
  const auto where = "block size " + std::to_string(block_size) + ", chain at " +
                     std::to_string(read.first_block) + ", " + std::to_string(read.size) + " bytes";
  if (const auto* text = std::get_if<std::string>(&expected);
      text && *text == "Corruption(loops)") {
    ASSERT_TRUE(std::holds_alternative<std::string>(got)) << where;
    EXPECT_TRUE(std::get<std::string>(got).starts_with("Corruption(\"block chain at ")) << where;
    return;
  }
  ASSERT_EQ(got.index(), expected.index()) << where;
  if (got.index() == 1) {
    EXPECT_EQ(std::get<std::string>(got), std::get<std::string>(expected)) << where;
  } else {
    EXPECT_TRUE(std::get<Bytes>(got) == std::get<Bytes>(expected)) << where;
  }
}

ReadExact image_reader(
    const Bytes& image,
    std::optional<std::pair<std::uint64_t, std::uint64_t>> poison = std::nullopt) {
  return [&image, poison](std::uint64_t offset, std::uint8_t* to,
                          std::size_t count) -> std::optional<std::string> {
    if (poison && offset < poison->second && offset + count > poison->first) {
      return "Io(Os { code: 5, kind: Other, message: \"Input/output error\" })";
    }
    if (offset + count > image.size()) {
      return "Io(Error { kind: UnexpectedEof, message: \"failed to fill whole buffer\" })";
    }
    std::memcpy(to, image.data() + offset, count);
    return std::nullopt;
  };
}

constexpr std::uint32_t kBlockSizes[] = {0, 3, 4, 5, 6, 8, 13, 64, 100, 256, 1024};

Bytes random_image(std::mt19937& random, std::uint32_t block_size) {
  Bytes image(0x400 + random() % 40000);
  for (auto& byte : image) byte = static_cast<std::uint8_t>(random());
  put_u32(image, 0x144, block_size);
  put_u32(image, 0x160, 0);  // no directory
  return image;
}

// Random bytes with random chains planted in them; the header is written
// last, as chains may have run over it.
struct Planted {
  Bytes image;
  std::vector<PlantedRead> reads;
};

Planted planted_archive(std::mt19937& random, std::uint32_t block_size) {
  Planted planted{random_image(random, block_size), {}};
  planted.reads = plant_chains(planted.image, 0, block_size, planted.image.size(), random);
  put_u32(planted.image, 0x144, block_size);
  put_u32(planted.image, 0x160, 0);
  return planted;
}

class ChainDifferential : public ArchiveTest {};

TEST_F(ChainDifferential, MemoryAndFileReadLikeTheOneBlockAtATimeForm) {
  std::mt19937 random(2024);
  for (int round = 0; round < 160; ++round) {
    const std::uint32_t block_size = kBlockSizes[round % std::size(kBlockSizes)];
    const auto [image, reads] = planted_archive(random, block_size);
    write_bytes(path(), image);
    const auto in_memory = DatDatabase::open_memory(image);
    const auto in_file = DatDatabase::open(path());
    ASSERT_TRUE(in_memory.has_value() && in_file.has_value());
    for (const PlantedRead read : reads) {
      const Outcome expected = read_chain_one_block_at_a_time(
          image_reader(image), image.size(), block_size, read.first_block, read.size);
      expect_same(read_with(*in_memory, read), expected, read, block_size);
      expect_same(read_with(*in_file, read), expected, read, block_size);
    }
  }
}

TEST_F(ChainDifferential, PoisonedRangesFailAsTheOneBlockAtATimeFormWould) {
  std::mt19937 random(77);
  for (int round = 0; round < 160; ++round) {
    const std::uint32_t block_size = kBlockSizes[round % std::size(kBlockSizes)];
    const auto [image, reads] = planted_archive(random, block_size);
    auto plan = std::make_shared<FaultPlan>();
    plan->poison_begin = 0x190 + random() % (image.size() - 0x190);
    plan->poison_end = plan->poison_begin + 1 + random() % 300;
    plan->mode = FaultPlan::Mode::Poison;
    const auto db = DatDatabase::open_source(std::make_unique<FaultSource>(image, plan));
    ASSERT_TRUE(db.has_value()) << debug_text(db.error());
    for (const PlantedRead read : reads) {
      const Outcome expected = read_chain_one_block_at_a_time(
          image_reader(image, std::pair{plan->poison_begin, plan->poison_end}), image.size(),
          block_size, read.first_block, read.size);
      expect_same(read_with(*db, read), expected, read, block_size);
    }
  }
}

// Bytes at the bottom of the archive and around 2^32, zeros between.
class SparseSource : public Source {
 public:
  static constexpr std::uint64_t kHigh = (std::uint64_t{1} << 32) - 0x10000;
  static constexpr std::uint64_t kLength = (std::uint64_t{1} << 32) + 0x10000;

  SparseSource(const Bytes& low, const Bytes& high) : low_(low), high_(high) {}

  std::expected<std::size_t, IoError> read_at(std::uint64_t offset,
                                              std::span<std::uint8_t> buffer) const override {
    const auto count = static_cast<std::size_t>(
        std::min<std::uint64_t>(buffer.size(), offset < kLength ? kLength - offset : 0));
    for (std::size_t i = 0; i < count; ++i) buffer[i] = byte_at(offset + i);
    return count;
  }
  std::expected<std::uint64_t, IoError> length() const override { return kLength; }

  std::uint8_t byte_at(std::uint64_t at) const {
    if (at < low_.size()) return low_[at];
    if (at >= kHigh && at - kHigh < high_.size()) return high_[at - kHigh];
    return 0;
  }

 private:
  const Bytes& low_;
  const Bytes& high_;
};

TEST_F(ChainDifferential, ChainsAcrossFourGigabytesReadLikeTheOneBlockAtATimeForm) {
  std::mt19937 random(4096);
  for (int round = 0; round < 40; ++round) {
    const std::uint32_t block_size = kBlockSizes[5 + round % 6];
    Bytes low = random_image(random, block_size);
    Bytes high(0x20000);
    for (auto& byte : high) byte = static_cast<std::uint8_t>(random());
    auto reads = plant_chains(high, SparseSource::kHigh, block_size, SparseSource::kLength, random);
    // Chains that run up to 2^32 and wrap: the last blocks below it.
    for (std::uint32_t back = 1; back <= 6; ++back) {
      reads.push_back({static_cast<std::uint32_t>(0x100000000 - back * block_size + back % 3),
                       static_cast<std::uint32_t>(random() % (8 * block_size))});
    }
    const SparseSource sparse(low, high);
    const auto db = DatDatabase::open_source(std::make_unique<SparseSource>(low, high));
    ASSERT_TRUE(db.has_value()) << debug_text(db.error());
    const ReadExact reader = [&](std::uint64_t offset, std::uint8_t* to,
                                 std::size_t count) -> std::optional<std::string> {
      if (offset + count > SparseSource::kLength) {
        return "Io(Error { kind: UnexpectedEof, message: \"failed to fill whole buffer\" })";
      }
      for (std::size_t i = 0; i < count; ++i) to[i] = sparse.byte_at(offset + i);
      return std::nullopt;
    };
    for (const PlantedRead read : reads) {
      const Outcome expected = read_chain_one_block_at_a_time(
          reader, SparseSource::kLength, block_size, read.first_block, read.size);
      expect_same(read_with(*db, read), expected, read, block_size);
    }
  }
}

}  // namespace
