#include "support/chain_reference.hpp"

#include <algorithm>
#include <set>

namespace brackwater_dat::test_support {

std::variant<Bytes, std::string> read_chain_one_block_at_a_time(const ReadExact& read,
                                                                std::uint64_t length,
                                                                std::uint32_t block_size,
                                                                std::uint32_t first_block,
                                                                std::uint32_t size) {
  if (size == 0) return Bytes{};
  if (size > length) {
    return "Io(Error { kind: UnexpectedEof, message: \"failed to fill whole buffer\" })";
  }
  Bytes out(size);
  const std::uint32_t capacity = block_size - 4;
  std::uint32_t written = 0, remaining = size, block = first_block;
  std::set<std::uint32_t> seen;  // for chains whose blocks carry nothing
  for (;;) {
    std::uint8_t link[4];
    if (auto error = read(block, link, 4)) return *error;
    const std::uint32_t next =
        link[0] | link[1] << 8 | link[2] << 16 | std::uint32_t{link[3]} << 24;
    const std::uint32_t payload = block + 4;
    if (next == 0) {
      if (auto error = read(payload, out.data() + written, remaining)) return *error;
      return out;
    }
    const std::uint32_t chunk = std::min(remaining, capacity);
    if (chunk != 0) {
      if (auto error = read(payload, out.data() + written, chunk)) return *error;
    }
    remaining -= chunk;
    if (remaining == 0) return out;
    written += chunk;
    block = next;
    if (capacity == 0 && !seen.insert(block).second) return "Corruption(loops)";
  }
}

}  // namespace brackwater_dat::test_support
