#pragma once

#include <cstdint>
#include <vector>

#include "brackwater_dat/bytes.hpp"

namespace brackwater_dat {

// A block a chain read visits, and the payload bytes it gives. The last
// block's share runs on past its end when the chain ends early.
struct ChainBlock {
  std::uint32_t offset;
  std::uint32_t bytes;

  friend bool operator==(const ChainBlock&, const ChainBlock&) = default;
};

// A chain read and how it went, for checkers that look at how files lie in
// the archive: the bytes, the blocks in the order visited, and whether the
// chain ended early (its last link was 0 while more bytes were wanted than a
// block holds, so the read ran on past that block over whatever follows it).
struct ChainRead {
  Bytes data;
  std::vector<ChainBlock> blocks;
  bool ended_early = false;
};

}  // namespace brackwater_dat
