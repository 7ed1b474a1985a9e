#include <algorithm>
#include <cstring>

#include "brackwater_dat/utils.hpp"
#include "record_reader.hpp"

namespace brackwater_dat::utils {
namespace {

constexpr std::size_t kLongestReference = 17;

// Appends `count` bytes that repeat the output from `distance` back. While the
// output is shorter than the distance the copy reads from position 0, exactly
// as copying one byte at a time would.
void copy_back_reference(Bytes& out, std::size_t distance, std::size_t count) {
  std::size_t at = out.size();
  const std::size_t end = at + count;
  out.resize(end);
  std::uint8_t* data = out.data();
  while (at < end && at < distance) data[at++] = data[0];
  // Non-overlapping pieces: each one doubles the span that repeats.
  std::size_t span = distance;
  while (at < end) {
    const std::size_t piece = std::min(end - at, span);
    std::memcpy(data + at, data + at - span, piece);
    at += piece;
    span += piece;
  }
}

}  // namespace

Bytes decompress_lrs(ByteView input) {
  if (input.size() < 4) return Bytes(input.begin(), input.end());
  const std::size_t limit = record::load_u32(input.data());
  if (limit == 0) return {};
  const ByteView stream = input.subspan(4);

  // No token yields more than 17 bytes from 2, so the stream bounds the output
  // whatever its length prefix claims.
  Bytes out;
  out.reserve(std::min(limit, stream.size() / 2 * kLongestReference + 1));

  std::size_t i = 0;
  unsigned flags = 0;
  unsigned mask = 0;
  while (i < stream.size()) {
    if (mask == 0) {
      flags = stream[i++];
      mask = 0x80;
    }
    if (flags & mask) {
      if (i + 1 >= stream.size()) break;
      const std::size_t distance = stream[i] | std::size_t(stream[i + 1] >> 4) << 8;
      const std::size_t length = (stream[i + 1] & 0x0F) + 2;
      // Distance 0 ends the stream; a reference before any output has nothing
      // to copy and ends it too.
      if (distance == 0 || out.empty()) break;
      copy_back_reference(out, distance, std::min(length, limit - out.size()));
      i += 2;
    } else {
      if (i == stream.size()) break;
      out.push_back(stream[i++]);
    }
    if (out.size() == limit) break;
    mask >>= 1;
  }
  return out;
}

}  // namespace brackwater_dat::utils
