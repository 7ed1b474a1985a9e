#include "support/lrs_codec.hpp"

#include <algorithm>
#include <vector>

namespace brackwater_dat::test_support {
namespace {

constexpr std::size_t kMaxDistance = 4095;
constexpr std::size_t kMinMatch = 3;  // a 2-byte reference saves nothing over two literals
constexpr std::size_t kMaxMatch = 17;
constexpr int kChainDepth = 64;

void put_u32(Bytes& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

}  // namespace

Bytes compress_lrs(ByteView data) {
  Bytes out;
  put_u32(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t n = data.size();
  std::vector<std::size_t> head(1 << 16, SIZE_MAX);
  std::vector<std::size_t> previous(n, SIZE_MAX);
  auto hash = [&](std::size_t at) { return data[at] | std::size_t{data[at + 1]} << 8; };
  auto remember = [&](std::size_t at) {
    if (at + 1 >= n) return;
    previous[at] = head[hash(at)];
    head[hash(at)] = at;
  };

  std::size_t pos = 0;
  while (pos < n) {
    const std::size_t flag_at = out.size();
    out.push_back(0);
    for (int bit = 0; bit < 8 && pos < n; ++bit) {
      std::size_t best_length = 0;
      std::size_t best_distance = 0;
      if (pos + 1 < n) {
        const std::size_t longest = std::min(kMaxMatch, n - pos);
        std::size_t candidate = head[hash(pos)];
        for (int depth = 0; depth < kChainDepth && candidate != SIZE_MAX; ++depth) {
          if (pos - candidate > kMaxDistance) break;
          std::size_t length = 0;
          while (length < longest && data[candidate + length] == data[pos + length]) ++length;
          if (length > best_length) best_length = length, best_distance = pos - candidate;
          candidate = previous[candidate];
        }
      }
      if (best_length >= kMinMatch) {
        out[flag_at] |= static_cast<std::uint8_t>(0x80 >> bit);
        out.push_back(static_cast<std::uint8_t>(best_distance & 0xFF));
        out.push_back(static_cast<std::uint8_t>((best_distance >> 8) << 4 | (best_length - 2)));
        for (std::size_t i = 0; i < best_length; ++i) remember(pos + i);
        pos += best_length;
      } else {
        out.push_back(data[pos]);
        remember(pos);
        ++pos;
      }
    }
  }
  return out;
}

}  // namespace brackwater_dat::test_support
