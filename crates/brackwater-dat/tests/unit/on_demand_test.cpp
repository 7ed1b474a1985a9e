// Opening on demand against opening whole: random search trees answer alike
// for every id, present or not; a lookup reads only the nodes on its path.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <random>
#include <set>

#include "support/read_every_file.hpp"
#include "unit/archive_test.hpp"

namespace {

using namespace brackwater_dat;
using namespace brackwater_dat::test_support;

// A random search tree over random ids, its nodes kept by offset so that a
// test can follow a lookup's path itself.
struct RandomTree {
  ArchiveBuilder builder;
  std::map<std::uint32_t, NodeSpec> nodes;
  std::vector<std::uint32_t> ids;
  std::uint32_t root = 0;
};

// Ids dense (a run) or sparse (anywhere in 32 bits), 0 and 0xFFFFFFFF among
// them, sorted and unique.
std::vector<std::uint32_t> random_ids(std::mt19937& random, std::size_t count) {
  std::set<std::uint32_t> ids{0, 0xFFFFFFFF};
  const bool dense = random() % 2 == 0;
  const std::uint32_t base = random() % 0xF0000000;
  while (ids.size() < count) ids.insert(dense ? base + random() % (2 * count) : random());
  return {ids.begin(), ids.end()};
}

constexpr std::size_t kMaxEntries = 61;
constexpr std::uint32_t kNodeLength = 1716;

// Lays the entries out as a subtree, a leaf where they fit one and, while
// `depth` allows, only now and then; else a node whose separators, as many
// as keep each child within what a leaf holds or more, split them evenly.
// Returns its root.
std::uint32_t store_subtree(RandomTree& tree, std::span<const DatFileEntry> entries,
                            std::uint32_t depth, std::mt19937& random) {
  NodeSpec node;
  const std::size_t n = entries.size();
  if (n <= kMaxEntries && (depth <= 1 || random() % 3 == 0)) {
    node.entries.assign(entries.begin(), entries.end());
  } else {
    const std::size_t fewest = std::max<std::size_t>(1, (n + kMaxEntries) / (kMaxEntries + 1));
    const std::size_t most = std::min(kMaxEntries, n);
    const std::size_t separators = fewest + random() % (most - fewest + 1);
    std::size_t from = 0;
    for (std::size_t j = 0; j <= separators; ++j) {
      const std::size_t to = j < separators ? (j + 1) * (n + 1) / (separators + 1) - 1 : n;
      if (to > from) {
        node.children[j] = store_subtree(tree, entries.subspan(from, to - from), depth - 1, random);
      }
      if (j < separators) node.entries.push_back(entries[to]);
      from = to + 1;
    }
    // A node whose first child is missing would read as a leaf: give it an empty one.
    if (node.children[0] == 0) {
      node.children[0] = tree.builder.store_node(NodeSpec{});
      tree.nodes[node.children[0]] = NodeSpec{};
    }
  }
  const std::uint32_t offset = tree.builder.store_node(node);
  tree.nodes[offset] = node;
  return offset;
}

RandomTree random_tree(std::mt19937& random) {
  static constexpr std::uint32_t kBlockSizes[] = {256, 1024, 2048};
  RandomTree tree{ArchiveBuilder(kBlockSizes[random() % 3]), {}, {}, 0};
  tree.ids = random_ids(random, 2 + random() % 3000);
  // A few files, compressed and stored, that the entries share.
  std::vector<DatFileEntry> files;
  for (std::uint32_t k = 0; k < 4; ++k) {
    files.push_back(tree.builder.store_file(0, pattern(50 + 700 * k, k), k % 2 == 1));
  }
  std::vector<DatFileEntry> entries;
  for (const std::uint32_t id : tree.ids) {
    DatFileEntry entry = files[id % files.size()];
    entry.id = id;
    entries.push_back(entry);
  }
  tree.root = store_subtree(tree, entries, 1 + random() % 4, random);
  tree.builder.header().root_offset = tree.root;
  return tree;
}

TEST(OnDemand, RandomSearchTreesAnswerAsTheWholeDirectoryForEveryId) {
  std::mt19937 random(2026);
  for (int round = 0; round < 60; ++round) {
    const RandomTree tree = random_tree(random);
    const auto whole = DatDatabase::open_memory(tree.builder.image());
    const auto on_demand =
        DatDatabase::open_memory(tree.builder.image(), DirectoryLoading::on_demand);
    ASSERT_TRUE(whole && on_demand);
    EXPECT_EQ(on_demand->loading(), DirectoryLoading::on_demand);
    EXPECT_TRUE(on_demand->directory().empty());
    ASSERT_EQ(whole->directory().size(), tree.ids.size());
    // The builder's trees are search trees, and the check says so.
    const auto problems = whole->directory_order_problems();
    ASSERT_TRUE(problems && problems->empty()) << problems->front().detail;
    const auto disagreement = on_demand_disagreement(*whole, *on_demand);
    EXPECT_FALSE(disagreement) << *disagreement;
    const auto listed = on_demand->entries();
    ASSERT_TRUE(listed);
    EXPECT_EQ(*listed, whole->entries().value());
  }
}

// Records where each read begins.
class CountingSource : public Source {
 public:
  explicit CountingSource(Bytes bytes) : bytes_(std::move(bytes)) {}

  std::expected<std::size_t, IoError> read_at(std::uint64_t offset,
                                              std::span<std::uint8_t> buffer) const override {
    {
      const std::lock_guard lock(mutex_);
      reads_.push_back(offset);
    }
    if (offset >= bytes_.size()) return 0;
    const auto count = std::min<std::size_t>(buffer.size(), bytes_.size() - offset);
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), count, buffer.begin());
    return count;
  }
  // A gathering read is one read, not one for each part.
  std::expected<std::size_t, IoError> read_scattered_at(
      std::uint64_t offset, std::span<const std::span<std::uint8_t>> parts) const override {
    {
      const std::lock_guard lock(mutex_);
      reads_.push_back(offset);
    }
    std::size_t total = 0;
    for (const auto part : parts) {
      if (offset + total >= bytes_.size()) break;
      const auto count = std::min<std::size_t>(part.size(), bytes_.size() - offset - total);
      std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset + total), count,
                  part.begin());
      total += count;
      if (count < part.size()) break;
    }
    return total;
  }
  std::expected<std::uint64_t, IoError> length() const override { return bytes_.size(); }

  std::vector<std::uint64_t> take() const {
    const std::lock_guard lock(mutex_);
    return std::exchange(reads_, {});
  }

 private:
  Bytes bytes_;
  mutable std::mutex mutex_;
  mutable std::vector<std::uint64_t> reads_;
};

// The nodes a lookup of `id` passes, followed in the builder's own nodes.
std::vector<std::uint64_t> path_to(const RandomTree& tree, std::uint32_t id) {
  std::vector<std::uint64_t> path;
  for (std::uint32_t at = tree.root; at != 0;) {
    path.push_back(at);
    const NodeSpec& node = tree.nodes.at(at);
    const auto next = std::ranges::lower_bound(node.entries, id, {}, &DatFileEntry::id);
    if (next != node.entries.end() && next->id == id) break;
    at = node.children[0] == 0 ? 0 : node.children[next - node.entries.begin()];
  }
  return path;
}

TEST(OnDemand, OpeningReadsNoNodeAndALookupReadsOnlyTheNodesOnItsPath) {
  std::mt19937 random(7);
  for (int trees = 0; trees < 20;) {
    RandomTree tree = random_tree(random);
    // Blocks that hold a whole node, so that each node is one read.
    if (tree.builder.block_size() < kNodeLength + 4) continue;
    ++trees;
    auto source = std::make_unique<CountingSource>(tree.builder.image());
    const CountingSource& reads = *source;
    const auto db = DatDatabase::open_source(std::move(source), DirectoryLoading::on_demand);
    ASSERT_TRUE(db);
    EXPECT_EQ(reads.take(), (std::vector<std::uint64_t>{0x140}));  // the header alone
    for (int k = 0; k < 50; ++k) {
      const std::uint32_t id = random() % 2 ? tree.ids[random() % tree.ids.size()]
                                            : static_cast<std::uint32_t>(random());
      (void)db->find(id);
      EXPECT_EQ(reads.take(), path_to(tree, id)) << hex_id(id);
    }
  }
}

}  // namespace
