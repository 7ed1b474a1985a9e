#include "chain_layout.hpp"

#include <unordered_map>

namespace brackwater_dat::cli {

std::string ChainLayout::loop_text() const {
  return "block " + hex_id(loop->from) + " links back to block " + hex_id(loop->to);
}

std::string ChainLayout::shared_text(const std::vector<DatFileEntry>& entries) const {
  return "block " + hex_id(shared->block) + " is also in the chain of " +
         hex_id(entries[shared->other].id);
}

// The files' chains are walked one after another, in id order, each block
// claimed by the first file to reach it. A walk stops at a block already
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
  for (std::size_t file = 0; file < entries.size(); ++file) {
    std::size_t position = 0;
    std::uint32_t previous = 0;
    // Where the links cannot be read, the walk ends; reading the file says why.
    static_cast<void>(
        db.visit_chain(entries[file].offset, entries[file].size, [&](const ChainBlock& block) {
          const auto [claim, fresh] = claims.try_emplace(block.offset, Claim{file, position});
          if (fresh) {
            previous = block.offset;
            ++position;
            return true;
          }
          const Claim owner = claim->second;
          layouts[file].stopped = true;
          if (owner.file == file) {
            layouts[file].loop = ChainLayout::Loop{previous, block.offset};
            return false;
          }
          layouts[file].shared = ChainLayout::Shared{block.offset, owner.file};
          shared_at[file] = position;
          auto& theirs = layouts[owner.file].shared;
          if (!theirs || owner.position < shared_at[owner.file]) {
            theirs = ChainLayout::Shared{block.offset, file};
            shared_at[owner.file] = owner.position;
          }
          return false;
        }));
  }
  return layouts;
}

}  // namespace brackwater_dat::cli
