#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "brackwater_dat/bytes.hpp"
#include "brackwater_dat/dat_database.hpp"
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

  // Exactly `size` bytes of the chain at `first_block` into `out`, whose
  // storage is reused.
  Result<void> read(std::uint32_t first_block, std::uint32_t size, Bytes& out) const;

  // The blocks that read() would visit, reading only their links.
  Result<std::vector<DatDatabase::ChainBlock>> blocks(std::uint32_t first_block,
                                                      std::uint32_t size) const;

 private:
  template <class Visit>
  Result<void> walk(std::uint32_t first_block, std::uint32_t size, Visit&& visit) const;
  std::expected<std::uint32_t, IoError> read_block(std::uint32_t block, std::uint32_t chunk,
                                                   std::uint32_t written, std::uint32_t remaining,
                                                   Bytes& out) const;
  // Where a chain read has got to.
  struct Position {
    std::uint32_t block;
    std::uint32_t written;
    std::uint32_t remaining;
  };
  enum class RunResult { Ended, Adjacent, Broken, Declined };
  RunResult read_run(Position& at, std::uint32_t limit, Bytes& out) const;

  const Source& source_;
  std::uint64_t length_;
  std::uint32_t block_size_;
  RunHint* hint_;  // none: every read starts with a run
};

}  // namespace brackwater_dat
