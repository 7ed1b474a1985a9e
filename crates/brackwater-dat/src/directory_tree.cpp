#include "directory_tree.hpp"

#include <algorithm>
#include <optional>
#include <string>
#include <unordered_set>

#include "allocation.hpp"
#include "directory_node.hpp"
#include "errors.hpp"

namespace brackwater_dat {
namespace {

using Node = DirectoryTree::Node;
using Bounds = DirectoryTree::Bounds;

std::string place_text(Bounds bounds) {
  const bool above = bounds.above >= 0;
  const bool below = bounds.below <= 0xFFFFFFFF;
  const auto id = [](std::int64_t value) { return hex_id(static_cast<std::uint32_t>(value)); };
  if (above && below) return "between " + id(bounds.above) + " and " + id(bounds.below);
  return above ? "above " + id(bounds.above) : "below " + id(bounds.below);
}

// What keeps `node` from being a search tree's node within `bounds`: its
// ids must strictly ascend and lie strictly within the bounds.
std::optional<std::string> order_problem(const Node& node, Bounds bounds) {
  for (std::uint32_t k = 0; k < node.count; ++k) {
    const std::uint32_t id = node.entries[k].id;
    if (k > 0 && id <= node.entries[k - 1].id) {
      return "ids do not ascend: " + hex_id(node.entries[k - 1].id) + " then " + hex_id(id);
    }
    if (id <= bounds.above || id >= bounds.below) {
      return "id " + hex_id(id) + " lies outside its place in the tree, " + place_text(bounds);
    }
  }
  return std::nullopt;
}

std::string too_deep() {
  return "lies deeper than " + std::to_string(kMaxDirectoryDepth) +
         " nodes, deeper than any real tree";
}

// The ids child `j` of `node` may hold: between the node's entries j - 1 and
// j, within the node's own bounds.
Bounds child_bounds(const Node& node, Bounds bounds, std::uint32_t j) {
  if (j > 0) bounds.above = node.entries[j - 1].id;
  if (j < node.count) bounds.below = node.entries[j].id;
  return bounds;
}

}  // namespace

Result<void> DirectoryTree::read_node(std::uint32_t offset, Node& node) const {
  std::array<std::uint8_t, DirectoryNode::kLength> bytes;
  if (auto read = chain_.read(offset, bytes); !read) return std::unexpected(read.error());
  const DirectoryNode view(bytes);
  for (std::size_t j = 0; j < DirectoryNode::kChildCount; ++j) node.children[j] = view.child(j);
  node.count = view.entry_count();
  // Past the 61st, an entry does not fit in the node: the first such fails.
  if (node.count > node.entries.size()) {
    return std::unexpected(DatError{
        DatError::BinRead{view.entry(static_cast<std::uint32_t>(node.entries.size())).error()}});
  }
  for (std::uint32_t k = 0; k < node.count; ++k) node.entries[k] = *view.entry(k);
  // A lookup goes on to one child and a walk to all: where reads cost a
  // round trip, fetching the children together spares a trip a level for
  // the lookups that follow (the nodes are small beside the files).
  if (node.children[0] != 0) {
    for (std::uint32_t j = 0; j <= node.count; ++j) {
      chain_.will_read(node.children[j], static_cast<std::uint32_t>(DirectoryNode::kLength));
    }
  }
  return {};
}

// Depth first, pre-order: `visit(offset, node, bounds)` sees a node before
// its children are read, and a child's subtree before its next sibling. The
// walk keeps its own stack, so depth costs no call stack.
template <class Visit>
Result<void> DirectoryTree::walk(Visit&& visit) const {
  struct Pending {
    std::uint32_t offset;
    Bounds bounds;
    std::uint32_t depth;
  };
  std::vector<Pending> pending;
  std::unordered_set<std::uint32_t> visited;
  const auto remember = [](auto&& add) -> Result<void> {
    if (auto added = allocation::guarded(0, add); !added) return io_error(added.error());
    return {};
  };
  if (root_ != 0) pending.push_back({root_, {}, 0});
  Node node;
  while (!pending.empty()) {
    const Pending at = pending.back();
    pending.pop_back();
    bool first_visit = false;
    if (auto added = remember([&] { first_visit = visited.insert(at.offset).second; }); !added) {
      return added;
    }
    if (!first_visit) {
      return corruption("directory node at " + hex_id(at.offset) + " is reached twice");
    }
    if (auto read = read_node(at.offset, node); !read) return read;
    if (auto seen = visit(at.offset, node, at.bounds, at.depth); !seen) return seen;
    if (node.children[0] == 0) continue;
    // Children 0..n, pushed last first so that they are read in order.
    if (auto room = allocation::reserve_for(pending, node.count + 1); !room) {
      return io_error(room.error());
    }
    for (std::uint32_t j = node.count + 1; j-- > 0;) {
      const std::uint32_t child = node.children[j];
      if (child != 0) pending.push_back({child, child_bounds(node, at.bounds, j), at.depth + 1});
    }
  }
  return {};
}

// Entries are gathered in walk order and indexed once at the end, with the
// index sized for all of them: growing it node by node cost more than the walk.
Result<Directory> DirectoryTree::load() const {
  std::vector<DatFileEntry> found;
  auto walked = walk([&](std::uint32_t, const Node& node, Bounds, std::uint32_t) -> Result<void> {
    if (auto room = allocation::reserve_for(found, node.count); !room)
      return io_error(room.error());
    found.insert(found.end(), node.entries.begin(), node.entries.begin() + node.count);
    return {};
  });
  if (!walked) return std::unexpected(std::move(walked.error()));
  Directory directory;
  const auto indexed = allocation::guarded(found.size() * 48, [&] { directory.insert_all(found); });
  if (!indexed) return io_error(indexed.error());
  return directory;
}

Result<std::vector<DirectoryOrderProblem>> DirectoryTree::order_problems() const {
  std::vector<DirectoryOrderProblem> problems;
  auto walked = walk([&](std::uint32_t offset, const Node& node, Bounds bounds,
                         std::uint32_t depth) -> Result<void> {
    // A lookup refuses the node at the limit, so that one is reported, not
    // every node below it.
    auto problem =
        depth == kMaxDirectoryDepth ? std::optional(too_deep()) : order_problem(node, bounds);
    if (!problem) return {};
    if (auto room = allocation::reserve_for(problems, 1); !room) return io_error(room.error());
    problems.push_back({offset, std::move(*problem)});
    return {};
  });
  if (!walked) return std::unexpected(std::move(walked.error()));
  return problems;
}

Result<DatFileEntry> DirectoryTree::find(std::uint32_t id) const {
  Node node;
  Bounds bounds;
  std::uint32_t offset = root_;
  for (std::uint32_t depth = 0; offset != 0; ++depth) {
    if (depth == kMaxDirectoryDepth) {
      return std::unexpected(
          DatError{DatError::Corruption{"directory node at " + hex_id(offset) + " " + too_deep()}});
    }
    if (auto read = read_node(offset, node); !read) return std::unexpected(read.error());
    if (auto problem = order_problem(node, bounds)) {
      return std::unexpected(
          DatError{DatError::Corruption{"directory node at " + hex_id(offset) + ": " + *problem}});
    }
    const auto begin = node.entries.begin();
    const auto end = begin + node.count;
    const auto at = std::lower_bound(
        begin, end, id, [](const DatFileEntry& entry, std::uint32_t v) { return entry.id < v; });
    if (at != end && at->id == id) return *at;
    if (node.children[0] == 0) break;  // a leaf
    const auto j = static_cast<std::uint32_t>(at - begin);
    bounds = child_bounds(node, bounds, j);
    offset = node.children[j];
  }
  return std::unexpected(DatError{DatError::NotFound{id}});
}

}  // namespace brackwater_dat
