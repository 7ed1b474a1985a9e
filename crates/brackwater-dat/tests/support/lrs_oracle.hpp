#pragma once

#include <algorithm>
#include <brackwater_dat/bytes.hpp>
#include <cstddef>
#include <optional>

namespace brackwater_dat::test_support {

// The LRS decoder written the plain way, one byte at a time: the oracle that
// the library's decoder must match byte for byte.
inline Bytes decompress_lrs_reference(ByteView input) {
  if (input.size() < 4) return Bytes(input.begin(), input.end());
  const std::size_t limit = std::size_t{input[0]} | std::size_t{input[1]} << 8 |
                            std::size_t{input[2]} << 16 | std::size_t{input[3]} << 24;
  Bytes out;
  if (limit == 0) return out;
  const ByteView stream = input.subspan(4);
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
      const std::size_t distance = stream[i] + 256 * std::size_t(stream[i + 1] >> 4);
      const std::size_t length = (stream[i + 1] & 0x0F) + 2;
      if (distance == 0 || out.empty()) break;
      for (std::size_t k = 0; k < length && out.size() < limit; ++k) {
        out.push_back(out[out.size() - std::min(out.size(), distance)]);
      }
      i += 2;
      if (out.size() == limit) break;
    } else {
      if (i == stream.size()) break;
      out.push_back(stream[i++]);
      if (out.size() == limit) break;
    }
    mask >>= 1;
  }
  return out;
}

}  // namespace brackwater_dat::test_support

namespace brackwater_dat::test_support {

// The token stream of an LRS payload as a writer must make it: every
// reference within the output so far (distance 1 up to its length) and no
// end marker, the stream ending where its prefix's length is reached.
// The decoded bytes, or none where the stream breaks one of these rules.
inline std::optional<Bytes> decompress_lrs_strict(ByteView input) {
  if (input.size() < 4) return std::nullopt;
  const std::size_t limit = std::size_t{input[0]} | std::size_t{input[1]} << 8 |
                            std::size_t{input[2]} << 16 | std::size_t{input[3]} << 24;
  Bytes out;
  std::size_t i = 4;
  for (unsigned flags = 0, mask = 0; out.size() < limit; mask >>= 1) {
    if (mask == 0) {
      if (i == input.size()) return std::nullopt;
      flags = input[i++];
      mask = 0x80;
    }
    if (i == input.size()) return std::nullopt;
    if ((flags & mask) == 0) {
      out.push_back(input[i++]);
      continue;
    }
    if (i + 1 == input.size()) return std::nullopt;
    const std::size_t distance = input[i] + 256 * std::size_t(input[i + 1] >> 4);
    const std::size_t length = (input[i + 1] & 0x0F) + 2;
    i += 2;
    if (distance == 0 || distance > out.size() || out.size() + length > limit) return std::nullopt;
    for (std::size_t k = 0; k < length; ++k) out.push_back(out[out.size() - distance]);
  }
  if (i != input.size()) return std::nullopt;
  return out;
}

}  // namespace brackwater_dat::test_support
