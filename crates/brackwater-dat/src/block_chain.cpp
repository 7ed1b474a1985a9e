#include "block_chain.hpp"

#include <algorithm>
#include <array>

#include "allocation.hpp"
#include "coding.hpp"
#include "errors.hpp"
#include "source_reads.hpp"

namespace brackwater_dat {
namespace {

// The most blocks read in one call: 2 parts each, within one preadv.
constexpr std::uint32_t kMaxRun = 32;

// Visits of a walk that only reads.
std::expected<bool, IoError> read_on(const ChainBlock&) noexcept { return true; }

// Visits that keep the blocks in `visited`.
auto kept_in(std::vector<ChainBlock>& visited) noexcept {
  return [&visited](const ChainBlock& block) -> std::expected<bool, IoError> {
    if (auto pushed = allocation::reserve_for(visited, 1); !pushed) {
      return std::unexpected(std::move(pushed.error()));
    }
    visited.push_back(block);
    return true;
  };
}

}  // namespace

// Follows the chain from `first_block` until `size` bytes are accounted for.
// At each block `steps.link(step)` gives the block's link, reading whatever
// else it wants with it; a link of 0 ends the chain, and `steps.end(step)`
// then takes all the bytes still wanted from what follows that block's link.
// `visit(block)` sees each block once its link is known and says whether to
// go on. Returns whether the chain ended early (false when stopped).
template <class Steps, class Visit>
Result<bool> BlockChain::walk(std::uint32_t first_block, std::uint32_t size, Steps& steps,
                              Visit&& visit) const {
  const std::uint32_t capacity = block_size_ - 4;  // wraps below 4, as stored
  // With no payload per block only the chain's end makes progress, so a chain
  // that never ends must loop; Brent's method finds the loop within one lap.
  std::uint32_t loop_mark = first_block;
  std::uint64_t lap = 1, since_mark = 0;
  Step at{first_block, 0, 0, size};
  for (;;) {
    at.chunk = std::min(at.remaining, capacity);
    auto next = steps.link(at);
    if (!next) return io_error(std::move(next.error()));
    const bool last = *next == 0;
    const std::expected<bool, IoError> going =
        visit(ChainBlock{at.block, last ? at.remaining : at.chunk});
    if (!going) return io_error(std::move(going.error()));
    if (!*going) return false;
    if (last) {
      if (auto ended = steps.end(at); !ended) return io_error(std::move(ended.error()));
      return at.remaining > at.chunk;
    }
    at.remaining -= at.chunk;
    if (at.remaining == 0) return false;
    at.written += at.chunk;
    at.block = *next;
    if (capacity == 0) {
      if (at.block == loop_mark) {
        return corruption("block chain at " + hex_id(first_block) + " loops back to block " +
                          hex_id(at.block) + " without reaching its end");
      }
      if (++since_mark == lap) loop_mark = at.block, lap *= 2, since_mark = 0;
    }
  }
}

// Reads the payload with the links. Where blocks link to the block right
// after them, it reads ahead: a run of the blocks that would follow if each
// did, links and payloads in one call, starting with four (or one, where the
// hint says chains are scattered) and doubling while the links keep to the
// next block; after a link that breaks a run, one block at a time until one
// links to the block right after it. What a run read for blocks past the
// break, or past the chain's end, is not the chain's: the chain's own blocks,
// or the bytes its last block runs on over, are read over it.
class PayloadSteps {
 public:
  PayloadSteps(const BlockChain& chain, std::span<std::uint8_t> out) noexcept
      : chain_(chain), out_(out), limit_(chain.hint_ ? chain.hint_->first_run() : 4) {}

  std::expected<std::uint32_t, IoError> link(const BlockChain::Step& at) {
    if (next_ == count_) {
      if (auto read = read_ahead(at); !read) return std::unexpected(std::move(read.error()));
    }
    const std::uint32_t link = coding::load_u32(links_[next_++].data());
    if (link == 0 || at.remaining == at.chunk) return link;
    const bool adjacent = link == at.block + chain_.block_size_;
    if (!learnt_ && chain_.hint_) chain_.hint_->learn(adjacent);  // from the first link
    learnt_ = true;
    if (!adjacent) {
      count_ = next_;  // the rest of the run is not the chain's
      limit_ = 1;
    } else if (next_ == count_) {
      limit_ = std::min(2 * limit_, kMaxRun);
    }
    return link;
  }

  // The last block holds whatever is still missing, read on past its end.
  std::expected<void, IoError> end(const BlockChain::Step& at) {
    const std::uint32_t payload = at.block + 4;  // modulo 2^32
    const std::uint32_t done = payload_read_ ? at.chunk : 0;
    return source_reads::read_exact_at(chain_.source_, std::uint64_t{payload} + done,
                                       out_.subspan(at.written + done, at.remaining - done));
  }

 private:
  // Reads the run of up to limit_ blocks from `at` on, where it lies within
  // the data and below 2^32; else, or where the run's read fails (it may
  // reach blocks the chain never does), just the block the chain is at,
  // which gives the chain's own error.
  std::expected<void, IoError> read_ahead(const BlockChain::Step& at) {
    const std::uint32_t capacity = chain_.block_size_ - 4;
    const std::uint64_t start = at.block;
    const std::uint64_t end = std::min<std::uint64_t>(chain_.length_, std::uint64_t{1} << 32);
    std::array<std::span<std::uint8_t>, 2 * kMaxRun> parts;
    std::uint32_t count = 0;
    std::uint32_t planned = 0;
    while (count < limit_ && planned < at.remaining) {
      const std::uint32_t chunk = std::min(at.remaining - planned, capacity);
      if (start + std::uint64_t{count} * chain_.block_size_ + 4 + chunk > end) break;
      parts[2 * count] = links_[count];
      parts[2 * count + 1] = out_.subspan(at.written + planned, chunk);
      planned += chunk;
      ++count;
    }
    next_ = 0;
    payload_read_ = true;
    if (count > 1 &&
        source_reads::read_exact_at(chain_.source_, start, std::span(parts).first(2 * count))) {
      count_ = count;
      return {};
    }
    // One block: its link, with its payload where the two are contiguous in
    // the file (which gives the bytes and errors of reading them apart).
    count_ = 1;
    const std::uint32_t payload = at.block + 4;  // modulo 2^32
    payload_read_ = payload > at.block;
    parts[0] = links_[0];
    parts[1] = out_.subspan(at.written, at.chunk);
    if (auto read = source_reads::read_exact_at(chain_.source_, start,
                                                std::span(parts).first(payload_read_ ? 2 : 1));
        !read) {
      return read;
    }
    if (payload_read_ || at.chunk == 0 || coding::load_u32(links_[0].data()) == 0) return {};
    return source_reads::read_exact_at(chain_.source_, payload, out_.subspan(at.written, at.chunk));
  }

  const BlockChain& chain_;
  std::span<std::uint8_t> out_;
  std::uint32_t limit_;
  std::array<std::array<std::uint8_t, 4>, kMaxRun> links_;
  std::uint32_t count_ = 0;    // blocks of the run read ahead
  std::uint32_t next_ = 0;     // the run's block the chain is at
  bool payload_read_ = false;  // with the current block's link
  bool learnt_ = false;
};

// Reads only the links.
class LinkSteps {
 public:
  explicit LinkSteps(const BlockChain& chain) noexcept : chain_(chain) {}

  std::expected<std::uint32_t, IoError> link(const BlockChain::Step& at) const {
    std::array<std::uint8_t, 4> link{};
    if (auto got = source_reads::read_exact_at(chain_.source_, at.block, link); !got) {
      return std::unexpected(std::move(got.error()));
    }
    return coding::load_u32(link.data());
  }
  std::expected<void, IoError> end(const BlockChain::Step&) const { return {}; }

 private:
  const BlockChain& chain_;
};

Result<bool> BlockChain::read(std::uint32_t first_block, std::span<std::uint8_t> out,
                              std::vector<ChainBlock>* visited) const {
  if (out.empty()) return false;
  // A deliberate limit: no stored file needs more bytes than the archive
  // holds, so a larger size is refused, before anything is allocated for it.
  // A chain could deliver more (one that revisits or overlaps its blocks, or
  // whose last block lies early so the read runs on over the blocks after
  // it); such reads are refused too.
  if (out.size() > length_ || out.size() > 0xFFFFFFFF) return io_error(unexpected_eof());
  const auto size = static_cast<std::uint32_t>(out.size());
  // Where its blocks follow one another, the chain is that extent: a source
  // whose reads cost a round trip fetches it at once.
  will_read(first_block, size);
  PayloadSteps steps(*this, out);
  return visited ? walk(first_block, size, steps, kept_in(*visited))
                 : walk(first_block, size, steps, read_on);
}

Result<bool> BlockChain::read(std::uint32_t first_block, std::uint32_t size, Bytes& out,
                              std::vector<ChainBlock>* visited) const {
  if (size > length_) return io_error(unexpected_eof());
  // A reused buffer of the same size is not cleared again.
  if (auto sized = allocation::resize(out, size); !sized) return io_error(sized.error());
  return read(first_block, std::span(out), visited);
}

void BlockChain::will_read(std::uint32_t first_block, std::uint32_t size) const {
  const std::uint32_t capacity = block_size_ - 4;
  if (first_block == 0 || block_size_ <= 4 || first_block >= length_) return;
  const std::uint64_t blocks = (std::uint64_t{size} + capacity - 1) / capacity;
  source_.will_need(first_block, std::min(blocks * block_size_, length_ - first_block));
}

template <class Visit>
Result<void> BlockChain::walk_links(std::uint32_t first_block, std::uint32_t size,
                                    Visit&& visit) const {
  if (size == 0) return {};
  if (size > length_) return io_error(unexpected_eof());
  LinkSteps steps(*this);
  auto walked = walk(first_block, size, steps, visit);
  if (!walked) return std::unexpected(std::move(walked.error()));
  return {};
}

Result<std::vector<ChainBlock>> BlockChain::blocks(std::uint32_t first_block,
                                                   std::uint32_t size) const {
  std::vector<ChainBlock> visited;
  if (auto walked = walk_links(first_block, size, kept_in(visited)); !walked) {
    return std::unexpected(std::move(walked.error()));
  }
  return visited;
}

Result<void> BlockChain::visit(std::uint32_t first_block, std::uint32_t size,
                               const std::function<bool(const ChainBlock&)>& visit) const {
  return walk_links(
      first_block, size,
      [&](const ChainBlock& block) -> std::expected<bool, IoError> { return visit(block); });
}

}  // namespace brackwater_dat
