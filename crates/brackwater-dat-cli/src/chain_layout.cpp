#include "chain_layout.hpp"

#include <algorithm>
#include <numeric>
#include <unordered_map>

namespace brackwater_dat::cli {
namespace {

// What was learnt of each block met: the block its link leads to, or
// kUnknown where a walk went no further (its chain's last block).
constexpr std::uint64_t kUnknown = std::uint64_t{1} << 32;
using Links = std::unordered_map<std::uint32_t, std::uint64_t>;

// Walks every file's chain once, in the order of the files' first blocks,
// each walk stopping at a block met before: the archive's blocks are read
// once, in the order they lie, which a source far away (a URL) reads in a
// few long requests where the files' own order would read it over and over.
Links learn_links(const DatDatabase& db, const std::vector<DatFileEntry>& entries) {
  std::vector<std::size_t> order(entries.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::ranges::stable_sort(order, {}, [&](std::size_t i) { return entries[i].offset; });
  Links links;
  for (const std::size_t file : order) {
    std::optional<std::uint32_t> previous;
    static_cast<void>(
        db.visit_chain(entries[file].offset, entries[file].size, [&](const ChainBlock& block) {
          if (previous) links[*previous] = block.offset;
          if (!links.try_emplace(block.offset, kUnknown).second) {
            return false;
          }
          previous = block.offset;
          return true;
        }));
  }
  return links;
}

// Hands `visit` the blocks DatDatabase::visit_chain would for `entry`, as far
// as `visit` goes on, from what `links` holds; the archive is read only
// where a walk needs a link that was not learnt (a chain that ends early,
// one that goes past another's end, one whose links cannot be read).
void visit_learnt(const DatDatabase& db, const Links& links, const DatFileEntry& entry,
                  const std::function<bool(std::uint32_t)>& visit) {
  const auto visit_block = [&](const ChainBlock& block) { return visit(block.offset); };
  const std::uint32_t capacity = db.header().block_size - 4;  // wraps below 4, as read
  if (capacity == 0) {  // no progress but by links: the reader's own walk finds loops
    static_cast<void>(db.visit_chain(entry.offset, entry.size, visit_block));
    return;
  }
  if (entry.size == 0 || entry.size > db.length()) return;  // no walk, as visit_chain
  std::uint32_t block = entry.offset;
  for (std::uint32_t remaining = entry.size;; remaining -= capacity) {
    const auto learnt = links.find(block);
    if (learnt == links.end()) {
      static_cast<void>(db.visit_chain(block, remaining, visit_block));
      return;
    }
    if (!visit(block) || remaining <= capacity) return;
    if (learnt->second == kUnknown) {
      // Its link, read again: the walk from here, this block not handed twice.
      bool first = true;
      static_cast<void>(db.visit_chain(block, remaining, [&](const ChainBlock& next) {
        return std::exchange(first, false) || visit(next.offset);
      }));
      return;
    }
    block = static_cast<std::uint32_t>(learnt->second);
  }
}

}  // namespace

std::string ChainLayout::loop_text() const {
  return "block " + hex_id(loop->from) + " links back to block " + hex_id(loop->to);
}

std::string ChainLayout::shared_text(const std::vector<DatFileEntry>& entries) const {
  return "block " + hex_id(shared->block) + " is also in the chain of " +
         hex_id(entries[shared->other].id);
}

// The files' chains are walked one after another, in id order, each block
// claimed by the first file to reach it (from the links learnt in the
// order the chains lie). A walk stops at a block already
// claimed: its own (a loop) or another file's (shared, and that file, lower
// by id, is marked too). So every block is read once, and once more where a
// walk stops: many files run into one long chain cost its length, not its
// length times their number, and the claims are as many as the blocks.
std::vector<ChainLayout> chain_layouts(const DatDatabase& db,
                                       const std::vector<DatFileEntry>& entries) {
  std::vector<ChainLayout> layouts(entries.size());
  // Each claimed block's file and where in that file's chain it lies.
  struct Claim {
    std::size_t file;
    std::size_t position;
  };
  std::unordered_map<std::uint32_t, Claim> claims;
  // Where in its chain an owner's first shared block lies, to keep the first.
  std::vector<std::size_t> shared_at(entries.size());
  const Links links = learn_links(db, entries);
  for (std::size_t file = 0; file < entries.size(); ++file) {
    std::size_t position = 0;
    std::uint32_t previous = 0;
    // Where the links cannot be read, the walk ends; reading the file says why.
    visit_learnt(db, links, entries[file], [&](std::uint32_t block) {
      const auto [claim, fresh] = claims.try_emplace(block, Claim{file, position});
      if (fresh) {
        previous = block;
        ++position;
        return true;
      }
      const Claim owner = claim->second;
      layouts[file].stopped = true;
      if (owner.file == file) {
        layouts[file].loop = ChainLayout::Loop{previous, block};
        return false;
      }
      layouts[file].shared = ChainLayout::Shared{block, owner.file};
      shared_at[file] = position;
      auto& theirs = layouts[owner.file].shared;
      if (!theirs || owner.position < shared_at[owner.file]) {
        theirs = ChainLayout::Shared{block, file};
        shared_at[owner.file] = owner.position;
      }
      return false;
    });
  }
  return layouts;
}

}  // namespace brackwater_dat::cli
