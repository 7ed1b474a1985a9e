// The directory walk: which nodes it visits, which entry wins, and the trees it refuses.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <numeric>

#include "unit/archive_test.hpp"

namespace {

using namespace brackwater_dat;
using namespace brackwater_dat::test_support;

class DirectoryWalk : public ArchiveTest {};

TEST_F(DirectoryWalk, MultiLevelTreeFindsEveryFile) {
  ArchiveBuilder builder;
  std::map<std::uint32_t, Bytes> contents;
  std::vector<DatFileEntry> entries;
  for (std::uint32_t i = 0; i < 700; ++i) {
    const std::uint32_t id = (i % 3 == 0 ? 0x06000000 : 0x0A000000) + i;
    contents[id] = pattern(i * 13 % 3000, i);
    entries.push_back(builder.store_file(id, contents[id], i % 3 == 1,
                                         i % 2 ? ChainLayout::Scattered : ChainLayout::Contiguous));
  }
  builder.header().root_offset = builder.store_tree(entries, 7);
  const DatDatabase db = open_ok(builder);
  EXPECT_EQ(db.directory().size(), contents.size());
  for (const auto& [id, expected] : contents) {
    const auto file = db.get_file(id);
    ASSERT_TRUE(file.has_value()) << id << ": " << debug_text(file.error());
    EXPECT_EQ(*file, expected) << id;
  }
}

struct TreeCase {
  std::string name;
  // Builds the tree into the archive and returns its root.
  std::function<std::uint32_t(ArchiveBuilder&)> build;
  std::vector<std::uint32_t> ids;
  // Named in test listings, rather than dumped as bytes.
  friend void PrintTo(const TreeCase& c, std::ostream* os) { *os << c.name; }
};

class DirectoryShapes : public DirectoryWalk, public ::testing::WithParamInterface<TreeCase> {};

TEST_P(DirectoryShapes, VisitsExactlyTheLinkedNodes) {
  ArchiveBuilder builder;
  builder.header().root_offset = GetParam().build(builder);
  const DatDatabase db = open_ok(builder);
  EXPECT_EQ(ids_of(db), GetParam().ids);
}

INSTANTIATE_TEST_SUITE_P(Trees, DirectoryShapes,
                         ::testing::Values(TreeCase{"NoEntriesVisitsOnlyChildZero",
                                                    [](ArchiveBuilder& b) {
                                                      NodeSpec root;
                                                      root.children[0] = b.store_node(leaf({1}));
                                                      root.children[1] = b.store_node(leaf({2}));
                                                      return b.store_node(root);
                                                    },
                                                    {1}},
                                           TreeCase{"FullNodeVisitsAllSixtyTwoChildren",
                                                    [](ArchiveBuilder& b) {
                                                      NodeSpec root;
                                                      for (std::uint32_t j = 0; j < 62; ++j) {
                                                        root.children[j] =
                                                            b.store_node(leaf({1000 + j}));
                                                      }
                                                      for (std::uint32_t k = 0; k < 61; ++k)
                                                        root.entries.push_back(entry_for(k));
                                                      return b.store_node(root);
                                                    },
                                                    [] {
                                                      std::vector<std::uint32_t> ids(61);
                                                      std::iota(ids.begin(), ids.end(), 0u);
                                                      for (std::uint32_t j = 0; j < 62; ++j)
                                                        ids.push_back(1000 + j);
                                                      return ids;
                                                    }()},
                                           TreeCase{"LeafIgnoresStrayLinks",
                                                    [](ArchiveBuilder& b) {
                                                      NodeSpec root = leaf({1, 2});
                                                      root.children[1] = b.store_node(leaf({3}));
                                                      root.children[61] = 0xFFFFFFF0;
                                                      return b.store_node(root);
                                                    },
                                                    {1, 2}},
                                           TreeCase{"LinksPastTheCountAreIgnored",
                                                    [](ArchiveBuilder& b) {
                                                      NodeSpec root = leaf({1, 2, 3});
                                                      for (std::uint32_t j = 0; j < 4; ++j) {
                                                        root.children[j] =
                                                            b.store_node(leaf({10 + j}));
                                                      }
                                                      root.children[10] = b.store_node(leaf({99}));
                                                      return b.store_node(root);
                                                    },
                                                    {1, 2, 3, 10, 11, 12, 13}},
                                           TreeCase{"ZeroLinksAmongChildrenAreSkipped",
                                                    [](ArchiveBuilder& b) {
                                                      NodeSpec root = leaf({1, 2});
                                                      root.children[0] = b.store_node(leaf({10}));
                                                      root.children[2] = b.store_node(leaf({12}));
                                                      return b.store_node(root);
                                                    },
                                                    {1, 2, 10, 12}}),
                         [](const auto& info) { return info.param.name; });

TEST_F(DirectoryWalk, LaterOccurrenceOfAnIdWins) {
  ArchiveBuilder builder;
  const DatFileEntry in_parent = builder.store_file(7, pattern(10, 1));
  const DatFileEntry in_first_child = builder.store_file(7, pattern(20, 2));
  const DatFileEntry in_second_child = builder.store_file(8, pattern(30, 3));
  const DatFileEntry in_grandchild = builder.store_file(8, pattern(40, 4));
  NodeSpec grandchild{.children = {}, .entries = {in_grandchild}, .count = {}};
  NodeSpec first{.children = {}, .entries = {in_first_child}, .count = {}};
  first.children[0] = builder.store_node(grandchild);
  NodeSpec second{.children = {}, .entries = {in_second_child}, .count = {}};
  NodeSpec root{.children = {}, .entries = {in_parent}, .count = {}};
  root.children[0] = builder.store_node(first);
  root.children[1] = builder.store_node(second);
  builder.header().root_offset = builder.store_node(root);
  const DatDatabase db = open_ok(builder);
  // Pre-order: the child's 7 follows the parent's; the sibling's 8 follows the grandchild's.
  EXPECT_EQ(db.get_file(7).value(), pattern(20, 2));
  EXPECT_EQ(db.get_file(8).value(), pattern(30, 3));
}

TEST_F(DirectoryWalk, MoreThanSixtyOneEntriesFailsOpening) {
  ArchiveBuilder builder;
  NodeSpec root = leaf({1, 2});
  root.count = 62;
  builder.header().root_offset = builder.store_node(root);
  const auto db = open(builder);
  ASSERT_FALSE(db.has_value());
  const auto* bin = std::get_if<DatError::BinRead>(&db.error().value);
  ASSERT_NE(bin, nullptr) << debug_text(db.error());
  EXPECT_EQ(bin->error.cause().message(), "failed to fill whole buffer");
  ASSERT_EQ(bin->error.frames().size(), 1u);
  EXPECT_EQ(bin->error.frames()[0].message, "While parsing field 'bit_flags' in DatFileEntry");
  EXPECT_EQ(bin->error.frames()[0].file, "crates/brackwater-dat/src/directory_node.cpp");
}

TEST_F(DirectoryWalk, OverfullNodeFailsBeforeItsChildren) {
  ArchiveBuilder builder;
  NodeSpec root = leaf({1});
  root.count = 70;
  root.children[0] = 0x7FFFFF00;  // would fail with Io if it were read
  builder.header().root_offset = builder.store_node(root);
  const auto db = open(builder);
  ASSERT_FALSE(db.has_value());
  EXPECT_TRUE(std::holds_alternative<DatError::BinRead>(db.error().value))
      << debug_text(db.error());
}

TEST_F(DirectoryWalk, FirstFailingChildInPreOrderWins) {
  // Child 0's subtree fails deep down (an overfull node); child 1 would fail
  // with Io. The walk reports the first.
  ArchiveBuilder builder;
  NodeSpec overfull = leaf({3});
  overfull.count = 62;
  NodeSpec first = leaf({2});
  first.children[0] = builder.store_node(overfull);
  NodeSpec root = leaf({1});
  root.children[0] = builder.store_node(first);
  root.children[1] = 0x7FFFFF00;
  builder.header().root_offset = builder.store_node(root);
  const auto db = open(builder);
  ASSERT_FALSE(db.has_value());
  EXPECT_TRUE(std::holds_alternative<DatError::BinRead>(db.error().value))
      << debug_text(db.error());
}

TEST_F(DirectoryWalk, ErrorInAChildFailsOpening) {
  ArchiveBuilder builder;
  NodeSpec root = leaf({1});
  root.children[0] = builder.store_node(leaf({2}));
  root.children[1] = 0x7FFFFF00;  // past the end of the file
  builder.header().root_offset = builder.store_node(root);
  const auto db = open(builder);
  ASSERT_FALSE(db.has_value());
  EXPECT_EQ(debug_text(db.error()),
            "Io(Error { kind: UnexpectedEof, message: \"failed to fill whole buffer\" })");
}

TEST_F(DirectoryWalk, CyclicTreeIsRefused) {
  ArchiveBuilder builder;
  const std::uint32_t root = builder.allocate_block();
  builder.allocate_block();
  NodeSpec node = leaf({1});
  node.children[0] = root;
  builder.write_chain(std::vector{root, root + 1024}, test_support::encode_node(node));
  builder.header().root_offset = root;
  const auto db = open(builder);
  ASSERT_FALSE(db.has_value());
  EXPECT_EQ(debug_text(db.error()),
            "Corruption(\"directory node at 0x00000400 is reached twice\")");
}

TEST_F(DirectoryWalk, SharedNodeIsRefused) {
  ArchiveBuilder builder;
  const std::uint32_t shared = builder.store_node(leaf({5}));
  NodeSpec root = leaf({1});
  root.children[0] = shared;
  root.children[1] = shared;
  builder.header().root_offset = builder.store_node(root);
  const auto db = open(builder);
  ASSERT_FALSE(db.has_value());
  EXPECT_THAT(debug_text(db.error()), ::testing::HasSubstr("is reached twice"));
}

TEST_F(DirectoryWalk, HundredThousandDeepTreeOpens) {
  // Nodes 16 bytes apart, each a one-block chain (link 0) whose first child is
  // the next node and whose entry count reads 0; the deepest holds one entry.
  constexpr std::uint32_t kDepth = 100'000;
  constexpr std::uint32_t kBase = 0x1000;
  ArchiveBuilder builder;
  for (std::uint32_t k = 0; k + 1 < kDepth; ++k)
    builder.put_u32(kBase + 16 * k + 4, kBase + 16 * (k + 1));
  const std::uint32_t last = kBase + 16 * (kDepth - 1);
  builder.put_u32(last + 4 + 248, 1);
  builder.put_u32(last + 4 + 252 + 4, 0x0A000001);
  builder.put_bytes(last + 4 + 1716, Bytes(16));
  builder.header().root_offset = kBase;
  const DatDatabase db = open_ok(builder);
  EXPECT_EQ(ids_of(db), std::vector<std::uint32_t>{0x0A000001});
}

}  // namespace
