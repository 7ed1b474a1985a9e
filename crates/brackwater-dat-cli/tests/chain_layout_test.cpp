// chain_layouts learns the links in the order the chains lie and then walks
// them in id order from memory: over many damaged archives (loops, shared
// blocks, chains that end early or run off the archive) it must say what
// the plain walk in id order says.
#include "chain_layout.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <unordered_map>

#include "support/archive_builder.hpp"

namespace brackwater_dat::cli {
namespace {

// The plain walk: every chain in id order, straight from the archive.
std::vector<ChainLayout> reference_layouts(const DatDatabase& db,
                                           const std::vector<DatFileEntry>& entries) {
  std::vector<ChainLayout> layouts(entries.size());
  std::unordered_map<std::uint32_t, std::pair<std::size_t, std::size_t>> claims;
  std::vector<std::size_t> shared_at(entries.size());
  for (std::size_t file = 0; file < entries.size(); ++file) {
    std::size_t position = 0;
    std::uint32_t previous = 0;
    static_cast<void>(
        db.visit_chain(entries[file].offset, entries[file].size, [&](const ChainBlock& block) {
          const auto [claim, fresh] = claims.try_emplace(block.offset, file, position);
          if (fresh) {
            previous = block.offset;
            ++position;
            return true;
          }
          const auto [owner, owner_position] = claim->second;
          layouts[file].stopped = true;
          if (owner == file) {
            layouts[file].loop = ChainLayout::Loop{previous, block.offset};
            return false;
          }
          layouts[file].shared = ChainLayout::Shared{block.offset, owner};
          shared_at[file] = position;
          auto& theirs = layouts[owner].shared;
          if (!theirs || owner_position < shared_at[owner]) {
            theirs = ChainLayout::Shared{block.offset, file};
            shared_at[owner] = owner_position;
          }
          return false;
        }));
  }
  return layouts;
}

std::string described(const ChainLayout& layout) {
  return std::to_string(layout.stopped) +
         (layout.loop
              ? " loop " + std::to_string(layout.loop->from) + ">" + std::to_string(layout.loop->to)
              : "") +
         (layout.shared ? " shared " + std::to_string(layout.shared->block) + "/" +
                              std::to_string(layout.shared->other)
                        : "");
}

TEST(ChainLayouts, SayWhatTheWalkInIdOrderSays) {
  for (std::uint32_t seed = 0; seed < 2000; ++seed) {
    std::mt19937 random(seed);
    test_support::ArchiveBuilder builder(64);
    std::vector<DatFileEntry> entries;
    const std::uint32_t files = 2 + random() % 12;
    for (std::uint32_t i = 0; i < files; ++i) {
      const Bytes payload(1 + random() % 400, static_cast<std::uint8_t>(i));
      entries.push_back(builder.store_file(0x0A000000 + (random() % 64) * 16 + i, payload, false,
                                           random() % 3 == 0
                                               ? test_support::ChainLayout::Scattered
                                               : test_support::ChainLayout::Contiguous));
    }
    // Damage: links sent elsewhere in the archive, to 0, or past its end;
    // chains that start where another does or inside it; sizes that ask for
    // more than stored.
    const auto blocks = static_cast<std::uint32_t>(builder.size() / 64);
    for (std::uint32_t k = random() % 6; k > 0; --k) {
      const std::uint32_t at = (random() % blocks) * 64;
      const std::uint32_t to = random() % 8 == 0   ? 0
                               : random() % 8 == 0 ? blocks * 64 + 640
                                                   : (random() % blocks) * 64;
      if (at >= 0x190) builder.put_u32(at, to);
    }
    for (DatFileEntry& entry : entries) {
      if (random() % 6 == 0) entry.offset = entries[random() % entries.size()].offset;
      if (random() % 6 == 0) entry.offset = std::max<std::uint32_t>(0x1C0, (random() % blocks) * 64);
      if (random() % 6 == 0) entry.size += random() % 300;
    }
    builder.header().root_offset = builder.store_tree(entries);
    builder.header().file_size = static_cast<std::uint32_t>(builder.size());
    const auto db = DatDatabase::open_memory(builder.image());
    ASSERT_TRUE(db);
    const auto listed = db->entries();
    ASSERT_TRUE(listed);
    const auto got = chain_layouts(*db, *listed);
    const auto want = reference_layouts(*db, *listed);
    for (std::size_t i = 0; i < want.size(); ++i) {
      ASSERT_EQ(described(got[i]), described(want[i])) << "seed " << seed << ", file " << i;
    }
  }
}

}  // namespace
}  // namespace brackwater_dat::cli
