#include "chain_layout.hpp"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "parallel.hpp"

namespace brackwater_dat::cli {
namespace {

// One chain's blocks, each once, in the order first visited.
struct Walk {
  std::vector<std::uint32_t> blocks;
  std::optional<ChainLayout::Loop> loop;
};

Walk walk_chain(const DatDatabase& db, const DatFileEntry& entry) {
  // Most chains are short enough to search as they are; a longer one keeps a set.
  constexpr std::size_t kScanned = 16;
  Walk walk;
  std::unordered_set<std::uint32_t> seen;
  const auto visited = [&](std::uint32_t block) {
    return walk.blocks.size() <= kScanned
               ? std::ranges::find(walk.blocks, block) != walk.blocks.end()
               : seen.contains(block);
  };
  // Where the links cannot be read, the walk ends; reading the file reports it.
  static_cast<void>(db.visit_chain(entry.offset, entry.size, [&](const ChainBlock& block) {
    if (visited(block.offset)) {
      walk.loop = ChainLayout::Loop{walk.blocks.back(), block.offset};
      return false;
    }
    walk.blocks.push_back(block.offset);
    if (walk.blocks.size() == kScanned + 1) {
      seen.insert(walk.blocks.begin(), walk.blocks.end());
    } else if (walk.blocks.size() > kScanned + 1) {
      seen.insert(block.offset);
    }
    return true;
  }));
  return walk;
}

}  // namespace

std::string ChainLayout::loop_text() const {
  return "block " + hex_id(loop->from) + " links back to block " + hex_id(loop->to);
}

std::string ChainLayout::shared_text(const std::vector<DatFileEntry>& entries) const {
  return "block " + hex_id(shared->block) + " is also in the chain of " +
         hex_id(entries[shared->other].id);
}

std::vector<ChainLayout> chain_layouts(const DatDatabase& db,
                                       const std::vector<DatFileEntry>& entries, unsigned threads) {
  std::vector<ChainLayout> layouts(entries.size());
  // Where in its chain each file's shared block lies, to keep the first.
  std::vector<std::size_t> shared_at(entries.size());
  const auto note = [&](std::size_t file, std::size_t position, std::uint32_t block,
                        std::size_t other) {
    auto& shared = layouts[file].shared;
    if (!shared || position < shared_at[file] ||
        (position == shared_at[file] && other < shared->other)) {
      shared = ChainLayout::Shared{block, other};
      shared_at[file] = position;
    }
  };
  // Each block's first file, which is the lowest by id, and where in its chain.
  struct Owner {
    std::size_t file;
    std::size_t position;
  };
  std::unordered_map<std::uint32_t, Owner> owners;
  // Chains are walked a batch at a time, side by side, so that only one
  // batch's blocks are held apart from the owners.
  constexpr std::size_t kBatch = 4096;
  std::vector<Walk> walks;
  for (std::size_t start = 0; start < entries.size(); start += kBatch) {
    const std::size_t count = std::min(kBatch, entries.size() - start);
    walks.assign(count, Walk{});
    for_each_index(count, threads,
                   [&](std::size_t i) { walks[i] = walk_chain(db, entries[start + i]); });
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t file = start + i;
      layouts[file].loop = walks[i].loop;
      const std::vector<std::uint32_t>& blocks = walks[i].blocks;
      for (std::size_t position = 0; position < blocks.size(); ++position) {
        const auto [owner, fresh] = owners.try_emplace(blocks[position], Owner{file, position});
        if (fresh) continue;
        note(file, position, blocks[position], owner->second.file);
        note(owner->second.file, owner->second.position, blocks[position], file);
      }
    }
  }
  return layouts;
}

}  // namespace brackwater_dat::cli
