#pragma once

#include <cstdint>
#include <vector>

#include "brackwater_dat/bytes.hpp"
#include "brackwater_dat/dat_database.hpp"
#include "brackwater_dat/error.hpp"
#include "brackwater_dat/source.hpp"

namespace brackwater_dat {

// Gathers payload bytes from chains of blocks: each block a 4-byte link to the
// next (0 ends the chain) and block_size - 4 payload bytes. Offsets are 32-bit
// and wrap as the archive's arithmetic does.
class BlockChain {
 public:
  BlockChain(const Source& source, std::uint64_t length, std::uint32_t block_size) noexcept
      : source_(source), length_(length), block_size_(block_size) {}

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
};

}  // namespace brackwater_dat
