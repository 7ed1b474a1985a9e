#include "block_chain.hpp"

#include <algorithm>
#include <array>

#include "allocation.hpp"
#include "coding.hpp"
#include "errors.hpp"
#include "source_reads.hpp"

namespace brackwater_dat {

// Follows the chain from `first_block` until `size` bytes are accounted for.
// `visit(block, chunk, written, remaining)` reads the block's link (and what
// else it wants) and returns the link; when the link is 0 the chain has ended
// and the visitor has taken all `remaining` bytes from that block on.
template <class Visit>
Result<void> BlockChain::walk(std::uint32_t first_block, std::uint32_t size, Visit&& visit) const {
  const std::uint32_t capacity = block_size_ - 4;  // wraps below 4, as stored
  // With no payload per block only the chain's end makes progress, so a chain
  // that never ends must loop; Brent's method finds the loop within one lap.
  std::uint32_t loop_mark = first_block;
  std::uint64_t lap = 1, steps = 0;
  std::uint32_t written = 0;
  std::uint32_t remaining = size;
  std::uint32_t block = first_block;
  for (;;) {
    const std::uint32_t chunk = std::min(remaining, capacity);
    auto next = visit(block, chunk, written, remaining);
    if (!next) return io_error(std::move(next.error()));
    if (*next == 0) return {};
    remaining -= chunk;
    if (remaining == 0) return {};
    written += chunk;
    block = *next;
    if (capacity == 0) {
      if (block == loop_mark) {
        return corruption("block chain at " + hex32(first_block) + " loops back to block " +
                          hex32(block) + " without reaching its end");
      }
      if (++steps == lap) loop_mark = block, lap *= 2, steps = 0;
    }
  }
}

// Where a block's link and payload are contiguous in the file they are read
// together, which gives the bytes and errors of reading them apart.
Result<void> BlockChain::read(std::uint32_t first_block, std::uint32_t size, Bytes& out) const {
  if (size == 0) {
    out.clear();
    return {};
  }
  // A deliberate limit: no stored file needs more bytes than the archive
  // holds, so a larger size is refused before anything is allocated. A chain
  // could deliver more (one that revisits or overlaps its blocks, or whose
  // last block lies early so the read runs on over the blocks after it);
  // such reads are refused too.
  if (size > length_) return io_error(unexpected_eof());
  // A reused buffer of the same size is not cleared again.
  if (auto sized = allocation::resize(out, size); !sized) return io_error(sized.error());

  return walk(
      first_block, size,
      [&](std::uint32_t block, std::uint32_t chunk, std::uint32_t written,
          std::uint32_t remaining) -> std::expected<std::uint32_t, IoError> {
        const std::uint32_t payload = block + 4;  // modulo 2^32
        const bool contiguous = payload > block;
        std::array<std::uint8_t, 4> link{};
        std::array<std::span<std::uint8_t>, 2> parts{std::span(link),
                                                     std::span(out).subspan(written, chunk)};
        if (auto got = source_reads::read_exact_at(source_, block,
                                                   std::span(parts).first(contiguous ? 2 : 1));
            !got) {
          return std::unexpected(std::move(got.error()));
        }
        const std::uint32_t next = coding::load_u32(link.data());
        if (next == 0) {
          // The last block holds whatever is still missing, read on past its end.
          const std::uint32_t done = contiguous ? chunk : 0;
          auto rest = std::span(out).subspan(written + done, remaining - done);
          if (auto got = source_reads::read_exact_at(source_, std::uint64_t{payload} + done, rest);
              !got) {
            return std::unexpected(std::move(got.error()));
          }
          return 0;
        }
        if (!contiguous && chunk != 0) {
          if (auto got = source_reads::read_exact_at(source_, payload,
                                                     std::span(out).subspan(written, chunk));
              !got) {
            return std::unexpected(std::move(got.error()));
          }
        }
        return next;
      });
}

Result<std::vector<DatDatabase::ChainBlock>> BlockChain::blocks(std::uint32_t first_block,
                                                                std::uint32_t size) const {
  std::vector<DatDatabase::ChainBlock> visited;
  if (size == 0) return visited;
  if (size > length_) return io_error(unexpected_eof());
  auto walked = walk(first_block, size,
                     [&](std::uint32_t block, std::uint32_t chunk, std::uint32_t,
                         std::uint32_t remaining) -> std::expected<std::uint32_t, IoError> {
                       std::array<std::uint8_t, 4> link{};
                       if (auto got = source_reads::read_exact_at(source_, block, link); !got) {
                         return std::unexpected(std::move(got.error()));
                       }
                       const std::uint32_t next = coding::load_u32(link.data());
                       auto pushed = allocation::guarded(0, [&] {
                         visited.push_back({block, next == 0 ? remaining : chunk});
                       });
                       if (!pushed) return std::unexpected(std::move(pushed.error()));
                       return next;
                     });
  if (!walked) return std::unexpected(std::move(walked.error()));
  return visited;
}

}  // namespace brackwater_dat
