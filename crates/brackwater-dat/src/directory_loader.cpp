#include "directory_loader.hpp"

#include <algorithm>
#include <unordered_set>
#include <vector>

#include "allocation.hpp"
#include "directory_node.hpp"
#include "errors.hpp"

namespace brackwater_dat {

// Depth first, pre-order: a node's entries go into the directory before its
// children are read, and a child's subtree before its next sibling. The walk
// keeps its own stack, so depth costs no call stack, and refuses a node
// reached twice, which no real tree has and which would otherwise loop.
// Entries are gathered in walk order first and indexed once at the end, with
// the index sized for all of them: growing it node by node cost more than
// the walk.
Result<Directory> load_directory(const BlockChain& chain, std::uint32_t root_offset) {
  std::vector<DatFileEntry> found;
  std::vector<std::uint32_t> pending;
  if (root_offset != 0) pending.push_back(root_offset);
  std::unordered_set<std::uint32_t> visited;
  Bytes bytes;
  while (!pending.empty()) {
    const std::uint32_t offset = pending.back();
    pending.pop_back();
    bool first_visit = false;
    if (auto added = allocation::guarded(0, [&] { first_visit = visited.insert(offset).second; });
        !added) {
      return io_error(added.error());
    }
    if (!first_visit)
      return corruption("directory node at " + hex_id(offset) + " is reached twice");
    if (auto read = chain.read(offset, DirectoryNode::kLength, bytes); !read) {
      return std::unexpected(std::move(read.error()));
    }

    const DirectoryNode node(bytes);
    const std::uint32_t count = node.entry_count();
    for (std::uint32_t k = 0; k < count; ++k) {
      auto entry = node.entry(k);
      if (!entry) return std::unexpected(DatError{DatError::BinRead{std::move(entry.error())}});
      if (auto added = allocation::guarded(0, [&] { found.push_back(*entry); }); !added) {
        return io_error(added.error());
      }
    }
    if (node.child(0) == 0) continue;  // a leaf: its other links mean nothing
    // Children 0..n, pushed last first so that they are read in order.
    const std::size_t last = std::min<std::size_t>(count, DirectoryNode::kChildCount - 1);
    for (std::size_t j = last + 1; j-- > 0;) {
      const std::uint32_t child = node.child(j);
      if (child == 0) continue;
      if (auto added = allocation::guarded(0, [&] { pending.push_back(child); }); !added) {
        return io_error(added.error());
      }
    }
  }
  Directory directory;
  const auto indexed = allocation::guarded(found.size() * 48, [&] { directory.insert_all(found); });
  if (!indexed) return io_error(indexed.error());
  return directory;
}

}  // namespace brackwater_dat
