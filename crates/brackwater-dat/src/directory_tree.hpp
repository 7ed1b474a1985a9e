#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "block_chain.hpp"
#include "brackwater_dat/directory.hpp"
#include "brackwater_dat/error.hpp"

namespace brackwater_dat {

// The directory tree as it lies in the archive, from the node at `root` (0:
// no tree). Read whole, it gives every entry; read as a search tree, a
// lookup reads only the nodes on its way down.
class DirectoryTree {
 public:
  DirectoryTree(const BlockChain& chain, std::uint32_t root) noexcept
      : chain_(chain), root_(root) {}

  // Walks the whole tree, depth first and pre-order, and gathers every entry;
  // of an id met more than once, the occurrence read last is kept. A node
  // reached twice is refused: no real tree has one, and a cycle would loop.
  Result<Directory> load() const;

  // Descends from the root as a search tree lookup does, reading only the
  // nodes on the way, each checked against the bounds its parent gives it:
  // a node out of order on the way is an error. An id repeated or misplaced
  // off the way goes unseen, so the answer may miss it or be another
  // occurrence than load() keeps. A path of more than kMaxDirectoryDepth
  // nodes is refused: a cycle through nodes without entries, the one cycle
  // the bounds let by, ends there.
  Result<DatFileEntry> find(std::uint32_t id) const;

  // Walks the whole tree as load() does and lists each node where it is not
  // a search tree, or where a lookup would find it too deep.
  Result<std::vector<DirectoryOrderProblem>> order_problems() const;

  // A node as read: its child links and entries. The first link 0 makes it a
  // leaf, whose other links mean nothing.
  struct Node {
    std::array<std::uint32_t, 62> children;
    std::uint32_t count;
    std::array<DatFileEntry, 61> entries;
  };
  // The ids a node's entries may take: strictly between `above` and `below`.
  struct Bounds {
    std::int64_t above = -1;
    std::int64_t below = std::int64_t{1} << 32;
  };

 private:
  template <class Visit>
  Result<void> walk(Visit&& visit) const;
  Result<void> read_node(std::uint32_t offset, Node& node) const;

  const BlockChain& chain_;
  std::uint32_t root_;
};

}  // namespace brackwater_dat
