// Gathering a file's bytes from its chain of blocks, including the chains that end early, wrap or
// loop.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "unit/archive_test.hpp"

namespace {

using namespace brackwater_dat;
using namespace brackwater_dat::test_support;

class BlockChain : public ArchiveTest {};

TEST_F(BlockChain, SizeZeroReadsNothing) {
  write_bytes(path(), Bytes(0x190));
  const auto db = DatDatabase::open(path());
  ASSERT_TRUE(db.has_value());
  const auto data = db->read_file_data(0xFFFFFF00, 0);
  ASSERT_TRUE(data.has_value());
  EXPECT_TRUE(data->empty());
}

TEST_F(BlockChain, ChainThroughThreeScatteredBlocks) {
  ArchiveBuilder builder(1024);
  const Bytes payload = pattern(2500, 9);
  const std::uint32_t first = builder.store_chain(payload, ChainLayout::Scattered);
  const DatDatabase db = open_ok(builder);
  EXPECT_EQ(db.read_file_data(first, 2500).value(), payload);
  // A shorter read stops without following the rest of the chain.
  EXPECT_EQ(db.read_file_data(first, 1020).value(), Bytes(payload.begin(), payload.begin() + 1020));
}

TEST_F(BlockChain, ChainEndingEarlyReadsOnPastItsLastBlock) {
  ArchiveBuilder builder(1024);
  const std::uint32_t a = builder.allocate_block();
  const std::uint32_t b = builder.allocate_block();
  builder.allocate_block();
  const Bytes bytes = pattern(3 * 1024, 5);
  builder.put_bytes(a, bytes);
  builder.put_u32(a, b);
  builder.put_u32(b, 0);
  const DatDatabase db = open_ok(builder);
  const Bytes image = builder.image();
  Bytes expected(image.begin() + a + 4, image.begin() + a + 1024);
  expected.insert(expected.end(), image.begin() + b + 4, image.begin() + b + 4 + 2020);
  EXPECT_EQ(db.read_file_data(a, 3040).value(), expected);
}

TEST_F(BlockChain, ReadsPastTheFileEndFail) {
  ArchiveBuilder builder(1024);
  const std::uint32_t a = builder.allocate_block();
  builder.put_u32(a, 0x00100000);  // a link past the end
  const std::uint32_t b = builder.allocate_block();
  const DatDatabase db = open_ok(builder);
  const std::string eof =
      "Io(Error { kind: UnexpectedEof, message: \"failed to fill whole buffer\" })";
  EXPECT_EQ(debug_text(db.read_file_data(a, 1500).error()), eof);
  EXPECT_EQ(debug_text(db.read_file_data(b, 1021).error()), eof);  // data beyond the last block
  EXPECT_EQ(db.read_file_data(b, 1020).value().size(), 1020u);
  EXPECT_EQ(debug_text(db.read_file_data(0x00200000, 1).error()), eof);
  // For people, the error says where the archive ran out.
  EXPECT_EQ(display_text(db.read_file_data(a, 1500).error()),
            "read failed: failed to fill whole buffer at offset 0x00100000, past the end of the "
            "archive's " +
                std::to_string(builder.size()) + " bytes");
}

class TinyBlockSizes : public BlockChain, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(TinyBlockSizes, CapacityWrapsToOneBigBlock) {
  // Below 4 the capacity wraps to nearly 2^32: the first block holds it all,
  // so its link, here past the end of the file, is never followed.
  ArchiveBuilder builder(GetParam());
  const Bytes payload = pattern(600, 3);
  builder.put_bytes(0x404, payload);
  builder.put_u32(0x400, 0x7FFFFFF0);
  NodeSpec root = leaf({1});
  root.entries[0].offset = 0x400;
  root.entries[0].size = 600;
  builder.put_bytes(0x804, test_support::encode_node(root));  // a node is a chain too
  builder.put_u32(0x800, 0x7FFFFFF0);
  builder.header().root_offset = 0x800;
  const DatDatabase db = open_ok(builder);
  EXPECT_EQ(db.get_file(1).value(), payload);
}

INSTANTIATE_TEST_SUITE_P(BlockSizes, TinyBlockSizes, ::testing::Values(0u, 1u, 2u, 3u));

TEST_F(BlockChain, ZeroCapacityChainThatEndsIsRead) {
  ArchiveBuilder builder(4);
  builder.put_u32(0x400, 0x404);
  builder.put_u32(0x404, 0x408);
  builder.put_u32(0x408, 0);
  builder.put_bytes(0x40C, Bytes{1, 2, 3, 4, 5});
  const DatDatabase db = open_ok(builder);
  EXPECT_EQ(db.read_file_data(0x400, 5).value(), (Bytes{1, 2, 3, 4, 5}));
}

TEST_F(BlockChain, PayloadOffsetWrapsAtFourGigabytes) {
  // A sparse file just over 4 GiB: the block at 0xFFFFFFFC has a zero link, so
  // its payload offset wraps to 0 and the read takes the file's first bytes.
  ArchiveBuilder builder;
  builder.put_bytes(0, Bytes{9, 8, 7, 6});
  builder.write(path());
  std::filesystem::resize_file(path(), 0x100000010);
  const auto db = DatDatabase::open(path());
  ASSERT_TRUE(db.has_value()) << debug_text(db.error());
  EXPECT_EQ(db->read_file_data(0xFFFFFFFC, 4).value(), (Bytes{9, 8, 7, 6}));
}

TEST_F(BlockChain, LastBlockReadRunsOnPastFourGigabytes) {
  // The combined link-and-payload read of a block just below 2^32 must go on
  // reading past 2^32, as reading the payload alone would.
  ArchiveBuilder builder;
  builder.put_bytes(0, Bytes{9, 8, 7, 6});
  builder.write(path());
  const Bytes beyond = pattern(2000, 4);
  {
    std::fstream file(path(), std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(0x100000000);
    file.write(reinterpret_cast<const char*>(beyond.data()), 2000);
  }
  const auto db = DatDatabase::open(path());
  ASSERT_TRUE(db.has_value()) << debug_text(db.error());
  const auto data = db->read_file_data(0xFFFFFF00, 2000);
  ASSERT_TRUE(data.has_value()) << debug_text(data.error());
  Bytes expected(0xFC, 0);
  expected.insert(expected.end(), beyond.begin(), beyond.begin() + (2000 - 0xFC));
  EXPECT_EQ(*data, expected);
}

TEST_F(BlockChain, WrappedBlockInsideAChain) {
  // The block at 0xFFFFFFFC links on to 0x400; its payload wraps to offset 0.
  ArchiveBuilder builder(1024);
  const std::uint32_t next = builder.allocate_block();
  builder.put_bytes(next + 4, pattern(100, 8));
  builder.write(path());
  {
    std::fstream file(path(), std::ios::binary | std::ios::in | std::ios::out);
    const std::uint8_t link[4] = {0x00, 0x04, 0x00, 0x00};
    file.seekp(0xFFFFFFFC);
    file.write(reinterpret_cast<const char*>(link), 4);
  }
  const auto db = DatDatabase::open(path());
  ASSERT_TRUE(db.has_value()) << debug_text(db.error());
  const auto data = db->read_file_data(0xFFFFFFFC, 1100);
  ASSERT_TRUE(data.has_value()) << debug_text(data.error());
  const Bytes image = builder.image();
  Bytes expected(image.begin(), image.begin() + 1020);
  const Bytes tail = pattern(80, 8);
  expected.insert(expected.end(), tail.begin(), tail.end());
  EXPECT_EQ(*data, expected);
}

TEST_F(BlockChain, ZeroCapacityLoopIsRefused) {
  ArchiveBuilder builder(4);
  builder.put_u32(0x400, 0x404);
  builder.put_u32(0x404, 0x400);
  const DatDatabase db = open_ok(builder);
  const auto data = db.read_file_data(0x400, 8);
  ASSERT_FALSE(data.has_value());
  EXPECT_THAT(debug_text(data.error()),
              ::testing::StartsWith("Corruption(\"block chain at 0x00000400 loops back"));
}

TEST_F(BlockChain, ZeroCapacityLoopInALargeFileIsRefused) {
  // A loop deep inside a 64 MiB file: found by the chain's own shape, not by
  // following as many links as the file could hold blocks.
  ArchiveBuilder builder(4);
  builder.put_u32(0x400, 0x404);
  builder.put_u32(0x404, 0x408);
  builder.put_u32(0x408, 0x404);
  builder.write(path());
  std::filesystem::resize_file(path(), 64 << 20);
  const auto db = DatDatabase::open(path());
  ASSERT_TRUE(db.has_value());
  EXPECT_EQ(debug_text(db->read_file_data(0x400, 1).error()),
            "Corruption(\"block chain at 0x00000400 loops back to block 0x00000404 without "
            "reaching its end\")");
}

TEST_F(BlockChain, SizeBeyondTheFileFailsWithoutAllocating) {
  ArchiveBuilder builder;
  builder.put_bytes(0x100000 - 1, Bytes{0});  // a 1 MiB archive
  const std::uint32_t first = builder.store_chain(pattern(100, 1));
  builder.header().root_offset = builder.store_node(
      NodeSpec{.children = {}, .entries = {{0, 1, first, 0xFFFFFFFF, 0, 0}}, .count = {}});
  const DatDatabase db = open_ok(builder);
  const auto file = db.get_file(1);
  ASSERT_FALSE(file.has_value());
  EXPECT_EQ(debug_text(file.error()),
            "Io(Error { kind: UnexpectedEof, message: \"failed to fill whole buffer\" })");
}

// ---- the blocks a read visits ----

struct VisitCase {
  std::string name;
  std::uint32_t size;
  std::vector<DatDatabase::ChainBlock> expected;  // offsets relative to the first block
  // Named in test listings, rather than dumped as bytes.
  friend void PrintTo(const VisitCase& c, std::ostream* os) { *os << c.name; }
};

class ChainBlocks : public BlockChain, public ::testing::WithParamInterface<VisitCase> {};

TEST_P(ChainBlocks, ListsEachBlockWithItsShare) {
  // Three blocks a, c, b in that order of the chain; the last ends it.
  ArchiveBuilder builder(1024);
  const std::uint32_t a = builder.allocate_block();
  const std::uint32_t b = builder.allocate_block();
  const std::uint32_t c = builder.allocate_block();
  builder.allocate_block();
  builder.put_u32(a, c);
  builder.put_u32(c, b);
  builder.put_u32(b, 0);
  const DatDatabase db = open_ok(builder);
  const auto blocks = db.chain_blocks(a, GetParam().size);
  ASSERT_TRUE(blocks.has_value()) << debug_text(blocks.error());
  ASSERT_EQ(blocks->size(), GetParam().expected.size());
  for (std::size_t i = 0; i < blocks->size(); ++i) {
    EXPECT_EQ((*blocks)[i].offset - a, GetParam().expected[i].offset) << i;
    EXPECT_EQ((*blocks)[i].bytes, GetParam().expected[i].bytes) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Reads, ChainBlocks,
    ::testing::Values(VisitCase{"Nothing", 0, {}}, VisitCase{"OneBlock", 1020, {{0, 1020}}},
                      VisitCase{"TwoBlocks", 1021, {{0, 1020}, {2048, 1}}},
                      VisitCase{"ToTheEnd", 3060, {{0, 1020}, {2048, 1020}, {1024, 1020}}},
                      // the last block's share runs on past its end
                      VisitCase{"EndsEarly", 3500, {{0, 1020}, {2048, 1020}, {1024, 1460}}}),
    [](const auto& info) { return info.param.name; });

TEST_F(BlockChain, ChainBlocksFailsAsTheReadWould) {
  ArchiveBuilder builder(1024);
  const std::uint32_t a = builder.allocate_block();
  builder.put_u32(a, 0x00100000);  // past the end
  const DatDatabase db = open_ok(builder);
  EXPECT_EQ(debug_text(db.chain_blocks(a, 1500).error()),
            debug_text(db.read_file_data(a, 1500).error()));
  EXPECT_EQ(debug_text(db.chain_blocks(a, 0xFFFFFF).error()),
            debug_text(db.read_file_data(a, 0xFFFFFF).error()));
}

}  // namespace
