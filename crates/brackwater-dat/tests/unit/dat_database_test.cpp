#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <brackwater_dat/dat_database.hpp>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <numeric>
#include <thread>

#include "support/archive_builder.hpp"
#include "support/dat_matchers.hpp"
#include "support/temp_dir.hpp"

namespace {

using namespace brackwater_dat;
using test_support::ArchiveBuilder;
using test_support::ChainLayout;
using test_support::NodeSpec;
using test_support::TempDir;

Bytes pattern(std::size_t size, std::uint32_t seed) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<std::uint8_t>(seed * 31 + i * 7 + i / 251);
  return bytes;
}

void write_bytes(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

class DatDatabaseTest : public ::testing::Test {
 protected:
  std::filesystem::path path() const { return dir_ / "archive.dat"; }

  Result<DatDatabase> open(const ArchiveBuilder& builder) {
    builder.write(path());
    return DatDatabase::open(path());
  }

  DatDatabase open_ok(const ArchiveBuilder& builder) {
    auto db = open(builder);
    EXPECT_TRUE(db.has_value()) << debug_text(db.error());
    return std::move(db.value());
  }

  TempDir dir_;
};

// ---- header ----

struct HeaderField {
  std::string_view name;
  std::size_t offset;  // from the start of the header
  std::size_t width;
};

constexpr HeaderField kHeaderFields[] = {
    {"magic", 0, 4},          {"block_size", 4, 4},
    {"file_size", 8, 4},      {"dataset", 12, 4},
    {"subset", 16, 4},        {"free_head", 20, 4},
    {"free_tail", 24, 4},     {"free_count", 28, 4},
    {"root_offset", 32, 4},   {"new_lru", 36, 4},
    {"old_lru", 40, 4},       {"use_lru", 44, 4},
    {"master_map_id", 48, 4}, {"engine_version", 52, 4},
    {"game_version", 56, 4},  {"version_string", 60, 16},
    {"version_minor", 76, 4},
};

TEST_F(DatDatabaseTest, TruncatedHeaderNamesTheFirstFieldNotHeld) {
  for (const auto& field : kHeaderFields) {
    for (std::size_t cut = field.offset; cut < field.offset + field.width; ++cut) {
      write_bytes(path(), Bytes(0x140 + cut));
      const auto db = DatDatabase::open(path());
      ASSERT_FALSE(db.has_value()) << cut;
      const auto* bin = std::get_if<DatError::BinRead>(&db.error().value);
      ASSERT_NE(bin, nullptr) << debug_text(db.error());
      EXPECT_EQ(bin->error.cause().kind(), IoErrorKind::UnexpectedEof);
      EXPECT_EQ(bin->error.cause().message(),
                field.width == 16 ? "not enough bytes in reader" : "failed to fill whole buffer");
      ASSERT_EQ(bin->error.frames().size(), 1u);
      const ParseFrame& frame = bin->error.frames()[0];
      EXPECT_EQ(frame.message,
                "While parsing field '" + std::string(field.name) + "' in DatHeader");
      EXPECT_EQ(frame.file, "crates/brackwater-dat/src/dat_header_layout.cpp");
      EXPECT_GT(frame.line, 0u);
    }
  }
}

TEST_F(DatDatabaseTest, ShortFilesFailOnMagic) {
  for (std::size_t length : {0u, 1u, 0x13Fu}) {
    write_bytes(path(), Bytes(length));
    const auto db = DatDatabase::open(path());
    ASSERT_FALSE(db.has_value());
    EXPECT_THAT(debug_text(db.error()),
                ::testing::StartsWith("BinRead(failed to fill whole buffer\n While parsing field "
                                      "'magic' in DatHeader at "));
  }
}

TEST_F(DatDatabaseTest, ExactHeaderWithEmptyDirectoryOpens) {
  write_bytes(path(), Bytes(0x190));
  const auto db = DatDatabase::open(path());
  ASSERT_TRUE(db.has_value()) << debug_text(db.error());
  EXPECT_TRUE(db->directory().empty());
  const auto missing = db->get_file(0x200000A8);
  ASSERT_FALSE(missing.has_value());
  EXPECT_EQ(debug_text(missing.error()), "NotFound(536871080)");
}

TEST_F(DatDatabaseTest, HeaderIsKeptAsRead) {
  ArchiveBuilder builder(512);
  DatHeader& h = builder.header();
  h.magic = 0;
  h.file_size = 0xDEADBEEF, h.dataset = 1, h.subset = 2, h.free_head = 3, h.free_tail = 4;
  h.free_count = 5, h.new_lru = 6, h.old_lru = 7, h.use_lru = 8, h.master_map_id = 9;
  h.engine_version = 10, h.game_version = 11, h.version_minor = 0xFFFFFFFF;
  std::iota(h.version_string.begin(), h.version_string.end(), std::uint8_t{0xF0});
  const DatHeader expected = h;
  const DatDatabase db = open_ok(builder);
  EXPECT_EQ(std::memcmp(&db.header(), &expected, sizeof(DatHeader)), 0);
}

// ---- opening errors ----

TEST_F(DatDatabaseTest, MissingFileIsAPathErrorWithThePathAsGiven) {
  const std::filesystem::path missing = "no/such/dir/../client_portal.dat";
  const auto db = DatDatabase::open(missing);
  ASSERT_FALSE(db.has_value());
  const auto* error = std::get_if<DatError::PathError>(&db.error().value);
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->path.native(), missing.native());
  EXPECT_EQ(error->source.kind(), IoErrorKind::NotFound);
  EXPECT_EQ(error->source.os_code(), ENOENT);
  EXPECT_EQ(debug_text(db.error()),
            "PathError { path: \"no/such/dir/../client_portal.dat\", source: Os { code: 2, kind: "
            "NotFound, message: \"No such file or directory\" } }");
}

TEST_F(DatDatabaseTest, UnreadableFileIsAPathError) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
  write_bytes(path(), Bytes(0x190));
  ::chmod(path().c_str(), 0);
  const auto db = DatDatabase::open(path());
  ASSERT_FALSE(db.has_value());
  const auto* error = std::get_if<DatError::PathError>(&db.error().value);
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->source.kind(), IoErrorKind::PermissionDenied);
  EXPECT_EQ(error->path.native(), path().native());
}

TEST_F(DatDatabaseTest, DirectoryIsAPathError) {
  const auto db = DatDatabase::open(dir_.path());
  ASSERT_FALSE(db.has_value());
  const auto* error = std::get_if<DatError::PathError>(&db.error().value);
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->source.kind(), IoErrorKind::IsADirectory);
}

// ---- directory tree ----

TEST_F(DatDatabaseTest, MultiLevelTreeFindsEveryFile) {
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

DatFileEntry entry_for(std::uint32_t id) { return DatFileEntry{0, id, 0, 0, 0, 0}; }

NodeSpec leaf(std::vector<std::uint32_t> ids) {
  NodeSpec node;
  for (auto id : ids) node.entries.push_back(entry_for(id));
  return node;
}

std::vector<std::uint32_t> ids_of(const DatDatabase& db) {
  std::vector<std::uint32_t> ids;
  for (const auto& [id, entry] : db.directory()) ids.push_back(id);
  std::ranges::sort(ids);
  return ids;
}

struct TreeCase {
  std::string name;
  // Builds the tree into the archive and returns its root.
  std::function<std::uint32_t(ArchiveBuilder&)> build;
  std::vector<std::uint32_t> ids;
};

class DirectoryShapes : public DatDatabaseTest, public ::testing::WithParamInterface<TreeCase> {};

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

TEST_F(DatDatabaseTest, LaterOccurrenceOfAnIdWins) {
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

TEST_F(DatDatabaseTest, FileBytesAreNotCheckedAgainstTheirId) {
  // A sound table whose own stored id differs from its directory id comes back as stored.
  ArchiveBuilder builder;
  const Bytes table = {0x01, 0x00, 0x00, 0x20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  const DatFileEntry entry = builder.store_file(0x20000005, table, true);
  builder.header().root_offset =
      builder.store_node(NodeSpec{.children = {}, .entries = {entry}, .count = {}});
  const DatDatabase db = open_ok(builder);
  EXPECT_EQ(db.get_file(0x20000005).value(), table);
}

TEST_F(DatDatabaseTest, MoreThanSixtyOneEntriesFailsOpening) {
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

TEST_F(DatDatabaseTest, OverfullNodeFailsBeforeItsChildren) {
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

TEST_F(DatDatabaseTest, FirstFailingChildInPreOrderWins) {
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

TEST_F(DatDatabaseTest, ErrorInAChildFailsOpening) {
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

// ---- files ----

struct StoredCase {
  std::string name;
  std::uint32_t flags;
  Bytes stored;
  Bytes expected;
};

class StoredPayloads : public DatDatabaseTest, public ::testing::WithParamInterface<StoredCase> {};

TEST_P(StoredPayloads, DecompressOnlyWithBitZero) {
  ArchiveBuilder builder;
  const auto& c = GetParam();
  DatFileEntry entry{c.flags,
                     0x20000001,
                     builder.store_chain(c.stored),
                     static_cast<std::uint32_t>(c.stored.size()),
                     0,
                     0};
  builder.header().root_offset =
      builder.store_node(NodeSpec{.children = {}, .entries = {entry}, .count = {}});
  const DatDatabase db = open_ok(builder);
  const auto file = db.get_file(0x20000001);
  ASSERT_TRUE(file.has_value()) << debug_text(file.error());
  EXPECT_EQ(*file, c.expected);
}

const Bytes kCompressedRun = {0x06, 0, 0, 0, 0x40, 0x61, 0x01, 0x03};

INSTANTIATE_TEST_SUITE_P(
    Flags, StoredPayloads,
    ::testing::Values(StoredCase{"OtherBitsStoreAsIs", 0x2, kCompressedRun, kCompressedRun},
                      StoredCase{"BitZeroDecompresses", 0x3, kCompressedRun, Bytes(6, 0x61)},
                      StoredCase{"EmptyStored", 0x0, {}, {}},
                      StoredCase{"EmptyCompressed", 0x1, {}, {}}),
    [](const auto& info) { return info.param.name; });

// ---- block chains ----

TEST_F(DatDatabaseTest, SizeZeroReadsNothing) {
  write_bytes(path(), Bytes(0x190));
  const auto db = DatDatabase::open(path());
  ASSERT_TRUE(db.has_value());
  const auto data = db->read_file_data(0xFFFFFF00, 0);
  ASSERT_TRUE(data.has_value());
  EXPECT_TRUE(data->empty());
}

TEST_F(DatDatabaseTest, ChainThroughThreeScatteredBlocks) {
  ArchiveBuilder builder(1024);
  const Bytes payload = pattern(2500, 9);
  const std::uint32_t first = builder.store_chain(payload, ChainLayout::Scattered);
  const DatDatabase db = open_ok(builder);
  EXPECT_EQ(db.read_file_data(first, 2500).value(), payload);
  // A shorter read stops without following the rest of the chain.
  EXPECT_EQ(db.read_file_data(first, 1020).value(), Bytes(payload.begin(), payload.begin() + 1020));
}

TEST_F(DatDatabaseTest, ChainEndingEarlyReadsOnPastItsLastBlock) {
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

TEST_F(DatDatabaseTest, ReadsPastTheFileEndFail) {
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
}

class TinyBlockSizes : public DatDatabaseTest,
                       public ::testing::WithParamInterface<std::uint32_t> {};

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

TEST_F(DatDatabaseTest, ZeroCapacityChainThatEndsIsRead) {
  ArchiveBuilder builder(4);
  builder.put_u32(0x400, 0x404);
  builder.put_u32(0x404, 0x408);
  builder.put_u32(0x408, 0);
  builder.put_bytes(0x40C, Bytes{1, 2, 3, 4, 5});
  const DatDatabase db = open_ok(builder);
  EXPECT_EQ(db.read_file_data(0x400, 5).value(), (Bytes{1, 2, 3, 4, 5}));
}

TEST_F(DatDatabaseTest, PayloadOffsetWrapsAtFourGigabytes) {
  // A sparse file just over 4 GiB: the block at 0xFFFFFFFC has a zero link, so
  // its payload offset wraps to 0 and the read takes the file's first bytes.
  ArchiveBuilder builder;
  builder.put_bytes(0, Bytes{9, 8, 7, 6});
  builder.write(path());
  ASSERT_EQ(::truncate(path().c_str(), 0x100000010), 0);
  const auto db = DatDatabase::open(path());
  ASSERT_TRUE(db.has_value()) << debug_text(db.error());
  EXPECT_EQ(db->read_file_data(0xFFFFFFFC, 4).value(), (Bytes{9, 8, 7, 6}));
}

TEST_F(DatDatabaseTest, LastBlockReadRunsOnPastFourGigabytes) {
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

TEST_F(DatDatabaseTest, WrappedBlockInsideAChain) {
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

// ---- hostile archives ----

TEST_F(DatDatabaseTest, ZeroCapacityLoopIsRefused) {
  ArchiveBuilder builder(4);
  builder.put_u32(0x400, 0x404);
  builder.put_u32(0x404, 0x400);
  const DatDatabase db = open_ok(builder);
  const auto data = db.read_file_data(0x400, 8);
  ASSERT_FALSE(data.has_value());
  EXPECT_THAT(debug_text(data.error()),
              ::testing::StartsWith("Corruption(\"block chain at 0x00000400 loops back"));
}

TEST_F(DatDatabaseTest, ZeroCapacityLoopInALargeFileIsRefused) {
  // A loop deep inside a 64 MiB file: found by the chain's own shape, not by
  // following as many links as the file could hold blocks.
  ArchiveBuilder builder(4);
  builder.put_u32(0x400, 0x404);
  builder.put_u32(0x404, 0x408);
  builder.put_u32(0x408, 0x404);
  builder.write(path());
  ASSERT_EQ(::truncate(path().c_str(), 64 << 20), 0);
  const auto db = DatDatabase::open(path());
  ASSERT_TRUE(db.has_value());
  EXPECT_EQ(debug_text(db->read_file_data(0x400, 1).error()),
            "Corruption(\"block chain at 0x00000400 loops back to block 0x00000404 without "
            "reaching its end\")");
}

TEST_F(DatDatabaseTest, SizeBeyondTheFileFailsWithoutAllocating) {
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

TEST_F(DatDatabaseTest, CyclicTreeIsRefused) {
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

TEST_F(DatDatabaseTest, SharedNodeIsRefused) {
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

TEST_F(DatDatabaseTest, HundredThousandDeepTreeOpens) {
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

// ---- concurrency ----

TEST_F(DatDatabaseTest, ThreadsReadTheSameFilesAsOneThread) {
  ArchiveBuilder builder;
  std::vector<DatFileEntry> entries;
  for (std::uint32_t i = 0; i < 400; ++i) {
    entries.push_back(builder.store_file(0x0A000000 + i, pattern(i * 37 % 5000, i), i % 2 == 0,
                                         ChainLayout::Scattered));
  }
  builder.header().root_offset = builder.store_tree(entries, 13);
  const DatDatabase db = open_ok(builder);
  std::map<std::uint32_t, Bytes> single;
  for (const auto& [id, entry] : db.directory()) single[id] = db.get_file(id).value();

  std::vector<std::map<std::uint32_t, Bytes>> seen(8);
  {
    std::vector<std::jthread> threads;
    for (std::size_t t = 0; t < seen.size(); ++t) {
      threads.emplace_back([&, t] {
        for (const auto& [id, entry] : db.directory()) {
          if (auto file = db.get_file(id)) seen[t][id] = std::move(*file);
        }
      });
    }
  }
  for (const auto& one : seen) EXPECT_EQ(one, single);
}

TEST_F(DatDatabaseTest, MovedDatabaseKeepsReading) {
  ArchiveBuilder builder;
  const DatFileEntry entry = builder.store_file(3, pattern(50, 3));
  builder.header().root_offset =
      builder.store_node(NodeSpec{.children = {}, .entries = {entry}, .count = {}});
  DatDatabase first = open_ok(builder);
  DatDatabase second = std::move(first);
  DatDatabase third = open_ok(builder);
  third = std::move(second);
  EXPECT_EQ(third.get_file(3).value(), pattern(50, 3));
}

}  // namespace
