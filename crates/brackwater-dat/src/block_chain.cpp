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

namespace {

// The most blocks read ahead in one call: 2 parts each, within one preadv.
constexpr std::uint32_t kMaxRun = 32;

}  // namespace

// Reads one block the exact way: its link, with its payload where the two are
// contiguous in the file (which gives the bytes and errors of reading them
// apart), and, at the chain's end, the rest of the data that follows.
std::expected<std::uint32_t, IoError> BlockChain::read_block(std::uint32_t block,
                                                             std::uint32_t chunk,
                                                             std::uint32_t written,
                                                             std::uint32_t remaining,
                                                             Bytes& out) const {
  const std::uint32_t payload = block + 4;  // modulo 2^32
  const bool contiguous = payload > block;
  std::array<std::uint8_t, 4> link{};
  std::array<std::span<std::uint8_t>, 2> parts{std::span(link),
                                               std::span(out).subspan(written, chunk)};
  if (auto got =
          source_reads::read_exact_at(source_, block, std::span(parts).first(contiguous ? 2 : 1));
      !got) {
    return std::unexpected(std::move(got.error()));
  }
  const std::uint32_t next = coding::load_u32(link.data());
  if (next == 0) {
    // The last block holds whatever is still missing, read on past its end.
    const std::uint32_t done = contiguous ? chunk : 0;
    if (auto got =
            source_reads::read_exact_at(source_, std::uint64_t{payload} + done,
                                        std::span(out).subspan(written + done, remaining - done));
        !got) {
      return std::unexpected(std::move(got.error()));
    }
    return 0;
  }
  if (!contiguous && chunk != 0) {
    if (auto got =
            source_reads::read_exact_at(source_, payload, std::span(out).subspan(written, chunk));
        !got) {
      return std::unexpected(std::move(got.error()));
    }
  }
  return next;
}

// Reads ahead: the run of up to `limit` blocks that would follow `block` if
// each linked to the one right after it, links and payloads in one call,
// then checks the links one by one. The blocks up to the first link that
// breaks the run were read exactly as block-by-block reads would have read
// them; what was read for the blocks after it is overwritten by the chain's
// real blocks. Declines where the run would meet the end of the data or an
// error; `at` then says how far the checked links got, and the exact reads
// take over from there and decide.
BlockChain::RunResult BlockChain::read_run(Position& at, std::uint32_t limit, Bytes& out) const {
  const std::uint32_t capacity = block_size_ - 4;
  const std::uint64_t start = at.block;
  // The run ends where the data does, and below 2^32, where no offset wraps.
  const std::uint64_t end = std::min<std::uint64_t>(length_, std::uint64_t{1} << 32);
  std::uint32_t count = 0;
  std::uint32_t planned = 0;
  std::array<std::array<std::uint8_t, 4>, kMaxRun> links;
  std::array<std::span<std::uint8_t>, 2 * kMaxRun> parts;
  while (count < limit && planned < at.remaining) {
    const std::uint32_t chunk = std::min(at.remaining - planned, capacity);
    const std::uint64_t needed = std::uint64_t{count} * block_size_ + 4 + chunk;
    if (start + needed > end) break;
    parts[2 * count] = links[count];
    parts[2 * count + 1] = std::span(out).subspan(at.written + planned, chunk);
    planned += chunk;
    ++count;
  }
  if (count < 2 ||
      !source_reads::read_exact_at(source_, start, std::span(parts).first(2 * count))) {
    return RunResult::Declined;
  }
  for (std::uint32_t j = 0; j < count; ++j) {
    const std::uint32_t chunk = std::min(at.remaining, capacity);
    const std::uint32_t next = coding::load_u32(links[j].data());
    if (next == 0) {
      // The chain ends here: the rest follows this block's payload, where the
      // run put the next block's link and payload instead.
      if (chunk < at.remaining) {
        auto rest = std::span(out).subspan(at.written + chunk, at.remaining - chunk);
        if (!source_reads::read_exact_at(source_, std::uint64_t{at.block} + 4 + chunk, rest)) {
          return RunResult::Declined;
        }
      }
      return RunResult::Ended;
    }
    at.remaining -= chunk;
    at.written += chunk;
    if (at.remaining == 0) return RunResult::Ended;
    const bool adjacent = next == at.block + block_size_;
    at.block = next;
    if (!adjacent) return RunResult::Broken;
  }
  return RunResult::Adjacent;
}

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

  const std::uint32_t capacity = block_size_ - 4;  // wraps below 4, as stored
  if (block_size_ <= 4 || capacity >= size) {
    // One block holds it all, or blocks hold nothing and the chain's shape
    // is watched for a loop: block by block.
    return walk(
        first_block, size,
        [&](std::uint32_t block, std::uint32_t chunk, std::uint32_t written,
            std::uint32_t remaining) { return read_block(block, chunk, written, remaining, out); });
  }
  // Every block carries at least one byte, so the chain ends within `size`
  // blocks. Runs of adjacent blocks are read together, starting with four
  // (or one, where the hint says chains are scattered) and doubling while
  // the links keep to the next block; after a link that breaks a run, blocks
  // are read one by one until one links to the block right after it. A
  // scattered chain so costs about what reading it block by block does.
  Position at{first_block, 0, size};
  std::uint32_t limit = hint_ ? hint_->first_run() : 4;
  bool learnt = hint_ == nullptr;
  const auto learn = [&](bool adjacent) {
    if (!learnt) hint_->learn(adjacent);
    learnt = true;
  };
  for (;;) {
    if (limit >= 2) {
      switch (read_run(at, limit, out)) {
        case RunResult::Ended:
          if (at.written >= capacity) learn(true);  // it passed its first link
          return {};
        case RunResult::Adjacent:
          learn(true);
          limit = std::min(2 * limit, kMaxRun);
          continue;
        case RunResult::Broken:
          learn(at.written > capacity);
          limit = 1;
          continue;
        case RunResult::Declined:
          break;
      }
    }
    const std::uint32_t chunk = std::min(at.remaining, capacity);
    auto next = read_block(at.block, chunk, at.written, at.remaining, out);
    if (!next) return io_error(std::move(next.error()));
    if (*next == 0) return {};
    at.remaining -= chunk;
    if (at.remaining == 0) return {};
    at.written += chunk;
    const bool adjacent = *next == at.block + block_size_;
    learn(adjacent);
    limit = adjacent ? 2 : 1;
    at.block = *next;
  }
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
