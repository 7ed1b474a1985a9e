// get_file: stored and compressed payloads.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "unit/archive_test.hpp"

namespace {

using namespace brackwater_dat;
using namespace brackwater_dat::test_support;

class GetFile : public ArchiveTest {};

TEST_F(GetFile, FileBytesAreNotCheckedAgainstTheirId) {
  // A sound table whose own stored id differs from its directory id comes back as stored.
  ArchiveBuilder builder;
  const Bytes table = {0x01, 0x00, 0x00, 0x20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  const DatFileEntry entry = builder.store_file(0x20000005, table, true);
  builder.header().root_offset =
      builder.store_node(NodeSpec{.children = {}, .entries = {entry}, .count = {}});
  const DatDatabase db = open_ok(builder);
  EXPECT_EQ(db.get_file(0x20000005).value(), table);
}

struct StoredCase {
  std::string name;
  std::uint32_t flags;
  Bytes stored;
  Bytes expected;
  // Named in test listings, rather than dumped as bytes.
  friend void PrintTo(const StoredCase& c, std::ostream* os) { *os << c.name; }
};

class StoredPayloads : public GetFile, public ::testing::WithParamInterface<StoredCase> {};

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

}  // namespace
