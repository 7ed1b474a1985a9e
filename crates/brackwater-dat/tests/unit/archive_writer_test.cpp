// Archives the writer makes, read back by the reader and checked byte by byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <brackwater_dat/archive_writer.hpp>
#include <brackwater_dat/dat_database.hpp>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>

#include "coding.hpp"
#include "dat_header_layout.hpp"
#include "directory_node.hpp"
#include "support/realistic_archives.hpp"
#include "support/temp_dir.hpp"

namespace {

using namespace brackwater_dat;
using brackwater_dat::coding::load_u32;
using test_support::ContentKind;
using test_support::make_content;

Bytes file_bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// What the written bytes must be, checked from the bytes themselves: header,
// blocks, the B-tree's shape and order, and the layout (nodes breadth-first
// from the first block, then each file's chain in consecutive blocks, in id
// order, to the archive's end). The first rule broken, or none.
std::string layout_problem(const Bytes& image, const std::map<std::uint32_t, Bytes>& stored,
                           const DatHeader& header_template, std::uint32_t block_size) {
  const std::uint8_t* header = image.data() + kHeaderOffset;
  if (std::any_of(image.begin(), image.begin() + kHeaderOffset, [](auto b) { return b != 0; })) {
    return "bytes before the header";
  }
  if (load_u32(header) != kDatMagic || load_u32(header + 4) != block_size ||
      load_u32(header + 8) != image.size() || image.size() % block_size != 0 ||
      load_u32(header + 20) != 0 || load_u32(header + 24) != 0 || load_u32(header + 28) != 0) {
    return "header's own fields";
  }
  DatHeader kept = *decode_header(ByteView(header, kHeaderLength), std::nullopt);
  kept.magic = kept.block_size = kept.file_size = kept.root_offset = 0;
  if (kept != header_template) return "stored-only fields";

  // Follows a chain, requiring consecutive blocks from `next`, where the
  // previous chain ended.
  std::uint64_t next = block_size;
  auto chain = [&](std::uint32_t offset, std::size_t size) -> std::optional<Bytes> {
    if (offset != next) return std::nullopt;
    Bytes out;
    while (true) {
      const std::size_t chunk = std::min<std::size_t>(block_size - 4, size - out.size());
      out.insert(out.end(), image.begin() + offset + 4, image.begin() + offset + 4 + chunk);
      const std::uint32_t link = load_u32(image.data() + offset);
      next = std::uint64_t{offset} + block_size;
      if (out.size() == size) return link == 0 ? std::optional(out) : std::nullopt;
      if (link != next) return std::nullopt;
      offset = link;
    }
  };

  // Breadth-first from the root, each node where the last one ended.
  std::vector<std::uint32_t> ids;  // in key order
  std::vector<DatFileEntry> entries;
  std::size_t leaf_depth = 0;
  struct Visit {
    std::uint32_t offset;
    std::size_t depth;
    std::optional<std::uint32_t> low, high;  // the ids on either side of its link
  };
  std::deque<Visit> queue;
  if (std::uint32_t root = load_u32(header + 32); root != 0 || !stored.empty()) {
    queue.push_back({root, 1, std::nullopt, std::nullopt});
  }
  for (; !queue.empty(); queue.pop_front()) {
    const Visit visit = queue.front();
    const auto bytes = chain(visit.offset, DirectoryNode::kLength);
    if (!bytes) return "node " + hex_id(visit.offset) + "'s blocks";
    const DirectoryNode node(*bytes);
    const std::uint32_t count = node.entry_count();
    const bool leaf = node.child(0) == 0;
    if (count > 61 || (visit.depth > 1 && count < 30) || count == 0) return "entry count";
    if (leaf && leaf_depth == 0) leaf_depth = visit.depth;
    if (leaf != (visit.depth == leaf_depth)) return "leaves at different depths";
    std::optional<std::uint32_t> low = visit.low;
    for (std::uint32_t k = 0; k <= count; ++k) {
      const std::optional<std::uint32_t> high =
          k < count ? std::optional(node.entry(k)->id) : visit.high;
      if (low && high && *low >= *high) return "ids out of order";
      if (!leaf) queue.push_back({node.child(k), visit.depth + 1, low, high});
      if (k < count) entries.push_back(*node.entry(k));
      low = high;
    }
    for (std::size_t k = leaf ? 0 : count + 1; k < DirectoryNode::kChildCount; ++k) {
      if (node.child(k) != 0) return "links past the children";
    }
  }
  std::sort(entries.begin(), entries.end(), [](auto& a, auto& b) { return a.id < b.id; });
  if (entries.size() != stored.size()) return "entry count differs";
  auto want = stored.begin();
  for (const DatFileEntry& entry : entries) {
    if (entry.id != want->first || entry.size != want->second.size()) return "entries";
    if (entry.size == 0 ? entry.offset != 0 : chain(entry.offset, entry.size) != want->second) {
      return "file " + hex_id(entry.id) + "'s chain";
    }
    ++want;
  }
  return next == image.size() ? "" : "bytes after the last chain";
}

Compression any_compression(std::mt19937& random) {
  return std::array{Compression::store, Compression::lrs_fast, Compression::lrs_best,
                    Compression::smaller}[random() % 4];
}

// Random file sets, added in random order: each archive read back whole and
// on demand gives every file's bytes, and its bytes keep the format's rules.
TEST(ArchiveWriter, WrittenArchivesReadBackExactly) {
  test_support::TempDir dir;
  std::mt19937 random(2026);
  for (const std::uint32_t files : {0u, 1u, 61u, 62u, 1891u, 1892u, 3000u, 300u}) {
    // Large blocks only for a few files: every file takes a block of its own.
    const std::uint32_t block_size = files <= 1    ? 1u << 20
                                     : files <= 62 ? 65536u
                                                   : std::array{512u, 1024u, 4096u}[random() % 3];
    std::map<std::uint32_t, Bytes> contents;
    contents[0] = {};
    contents[0xFFFFFFFF] = make_content(ContentKind::Text, random() % 3000, random());
    while (contents.size() < std::max<std::uint32_t>(files, 2)) {
      const bool large = random() % 200 == 0;
      const std::size_t size = large ? random() % 300000 : random() % 2000;
      const auto kind = static_cast<ContentKind>(random() % 3);
      contents[static_cast<std::uint32_t>(random())] = make_content(kind, size, random());
    }
    if (files == 0) contents.clear();

    DatHeader header{};
    header.dataset = random();
    header.new_lru = random();
    header.version_string[3] = 7;
    header.version_minor = random();
    const auto path = dir / ("a" + std::to_string(files) + ".dat");
    auto writer = ArchiveWriter::create(path.string(), {block_size, header, false});
    ASSERT_TRUE(writer) << debug_text(writer.error());
    std::vector<std::uint32_t> order;
    for (const auto& [id, bytes] : contents) order.push_back(id);
    std::shuffle(order.begin(), order.end(), random);
    std::map<std::uint32_t, Bytes> stored;
    for (std::uint32_t id : order) {
      ASSERT_TRUE(writer->add(id, contents[id], any_compression(random), id ^ 1, id ^ 2));
    }
    ASSERT_TRUE(writer->commit());

    const Bytes image = file_bytes(path);
    for (const auto loading : {DirectoryLoading::whole, DirectoryLoading::on_demand}) {
      auto db = DatDatabase::open(path, loading);
      ASSERT_TRUE(db) << debug_text(db.error());
      EXPECT_TRUE(check_header(db->header(), db->length()).empty());
      EXPECT_TRUE(db->directory_order_problems()->empty());
      for (const auto& [id, bytes] : contents) {
        EXPECT_EQ(db->get_file(id), bytes) << hex_id(id);
        const auto entry = db->find(id);
        EXPECT_EQ(entry->timestamp, id ^ 1);
        EXPECT_EQ(entry->version, id ^ 2);
        stored[id] = *db->read_stored(id);
      }
    }
    EXPECT_EQ(layout_problem(image, stored, header, block_size), "") << files << " files";
  }
}

TEST(ArchiveWriter, RefusesWithoutWritingAnything) {
  test_support::TempDir dir;
  const auto path = dir / "a.dat";
  for (std::uint32_t block_size : {0u, 508u, 1026u, (1u << 20) + 4}) {
    EXPECT_FALSE(ArchiveWriter::create(path.string(), {block_size}));
  }
  {
    auto writer = ArchiveWriter::create(path.string());
    ASSERT_TRUE(writer->add(5, Bytes(10, 1)));
    auto twice = writer->add(5, Bytes(3, 1), Compression::lrs_best);
    ASSERT_FALSE(twice);
    EXPECT_TRUE(std::holds_alternative<DatError::Other>(twice.error().value));
    // Abandoned: destroyed uncommitted.
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));

  std::ofstream(path) << "kept";
  auto refused = ArchiveWriter::create(path.string());
  ASSERT_FALSE(refused);
  EXPECT_TRUE(std::holds_alternative<DatError::PathError>(refused.error().value));
  auto replacing = ArchiveWriter::create(path.string(), {.overwrite = true});
  ASSERT_TRUE(replacing && replacing->add(1, Bytes(5000, 2), Compression::smaller));
  EXPECT_EQ(file_bytes(path), (Bytes{'k', 'e', 'p', 't'}));
  ASSERT_TRUE(replacing->commit());
  EXPECT_EQ(DatDatabase::open(path)->get_file(1), Bytes(5000, 2));
  EXPECT_FALSE(replacing->add(2, Bytes(1, 1)));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

// The header and a node, written and read through the one layout each.
TEST(ArchiveWriter, HeaderAndNodeLayoutsRoundTrip) {
  std::mt19937 random(7);
  DatHeader header{};
  std::array<std::uint8_t, kHeaderLength> bytes;
  for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random());
  header = *decode_header(bytes, std::nullopt);
  EXPECT_EQ(encode_header(header), bytes);
  EXPECT_EQ(decode_header(encode_header(header), std::nullopt), header);

  std::vector<std::uint32_t> children(62);
  std::vector<DatFileEntry> entries(61);
  auto word = [&] { return static_cast<std::uint32_t>(random()); };
  for (auto& child : children) child = word();
  for (auto& e : entries) e = {word(), word(), word(), word(), word(), word()};
  for (std::size_t count : {0, 1, 61}) {
    std::array<std::uint8_t, DirectoryNode::kLength> node_bytes;
    DirectoryNode::encode(std::span(children).first(count + 1), std::span(entries).first(count),
                          node_bytes);
    const DirectoryNode node(node_bytes);
    ASSERT_EQ(node.entry_count(), count);
    for (std::size_t k = 0; k < 62; ++k) EXPECT_EQ(node.child(k), k <= count ? children[k] : 0);
    for (std::uint32_t k = 0; k < count; ++k) EXPECT_EQ(node.entry(k), entries[k]);
  }
}

}  // namespace
