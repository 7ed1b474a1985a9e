#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "brackwater_dat/block_chain.hpp"
#include "brackwater_dat/bytes.hpp"
#include "brackwater_dat/error.hpp"
#include "brackwater_dat/source.hpp"

namespace brackwater_dat {

// What the last chain read of an archive learnt of its layout, shared by the
// reads of one database from any thread. Chains in one archive tend to be
// laid out alike, all in adjacent blocks or all scattered, so a read starts
// with a run of blocks only where its predecessor's first link kept to the
// next block; a scattered archive then reads block by block, as exactly as
// it can, instead of reading ahead blocks that are not the chain's.
class RunHint {
 public:
  std::uint32_t first_run() const noexcept {
    return scattered_.load(std::memory_order_relaxed) ? 1 : 4;
  }
  // Written only when it changes, so readers on many threads do not keep
  // taking the cache line from one another.
  void learn(bool adjacent) noexcept {
    if (scattered_.load(std::memory_order_relaxed) == adjacent) {
      scattered_.store(!adjacent, std::memory_order_relaxed);
    }
  }

 private:
  std::atomic<bool> scattered_{false};
};

// Gathers payload bytes from chains of blocks: each block a 4-byte link to the
// next (0 ends the chain) and block_size - 4 payload bytes. Offsets are 32-bit
// and wrap as the archive's arithmetic does.
class BlockChain {
 public:
  BlockChain(const Source& source, std::uint64_t length, std::uint32_t block_size,
             RunHint* hint = nullptr) noexcept
      : source_(source), length_(length), block_size_(block_size), hint_(hint) {}

  // Exactly out.size() bytes of the chain at `first_block` into `out`; the
  // blocks visited go to `visited` when given. Returns whether the chain
  // ended early.
  Result<bool> read(std::uint32_t first_block, std::span<std::uint8_t> out,
                    std::vector<ChainBlock>* visited = nullptr) const;
  // The same into `out`, sized to `size` bytes (its storage reused).
  Result<bool> read(std::uint32_t first_block, std::uint32_t size, Bytes& out,
                    std::vector<ChainBlock>* visited = nullptr) const;

  // Advises the source that the chain at `first_block` will be read for
  // `size` bytes: the blocks it takes if they are adjacent, as most are.
  void will_read(std::uint32_t first_block, std::uint32_t size) const;

  // The blocks that read() would visit, reading only their links.
  Result<std::vector<ChainBlock>> blocks(std::uint32_t first_block, std::uint32_t size) const;
  // The same blocks, each handed to `visit` as the walk reaches it; the walk
  // stops where `visit` returns false.
  Result<void> visit(std::uint32_t first_block, std::uint32_t size,
                     const std::function<bool(const ChainBlock&)>& visit) const;

  // Where a walk has got to: the block, the payload bytes it gives unless the
  // chain ends there, and how many bytes came before it and are still wanted.
  struct Step {
    std::uint32_t block;
    std::uint32_t chunk;
    std::uint32_t written;
    std::uint32_t remaining;
  };

 private:
  template <class Steps, class Visit>
  Result<bool> walk(std::uint32_t first_block, std::uint32_t size, Steps& steps,
                    Visit&& visit) const;
  template <class Visit>
  Result<void> walk_links(std::uint32_t first_block, std::uint32_t size, Visit&& visit) const;

  friend class PayloadSteps;
  friend class LinkSteps;

  const Source& source_;
  std::uint64_t length_;
  std::uint32_t block_size_;
  RunHint* hint_;  // none: every read starts with a run
};

}  // namespace brackwater_dat
