#include <algorithm>
#include <cstring>

#include "allocation.hpp"
#include "brackwater_dat/utils.hpp"
#include "coding.hpp"

namespace brackwater_dat::utils {
namespace {

constexpr std::size_t kLongestReference = 17;
// The most a wide copy writes: a 17-byte reference copied as two 16-byte steps.
constexpr std::size_t kWidest = 32;

// Writes `count` bytes at `at` that repeat the output from `distance` back.
// While the output is shorter than the distance the copy reads from position
// 0, exactly as copying one byte at a time would.
void copy_back_reference(std::uint8_t* data, std::size_t at, std::size_t distance,
                         std::size_t count) {
  const std::size_t end = at + count;
  while (at < end && at < distance) data[at++] = data[0];
  if (distance >= end - at) {
    std::memcpy(data + at, data + at - distance, end - at);
    return;
  }
  // Overlapping: non-overlapping pieces, each doubling the span that repeats.
  std::size_t span = distance;
  while (at < end) {
    const std::size_t piece = std::min(end - at, span);
    std::memcpy(data + at, data + at - span, piece);
    at += piece;
    span += piece;
  }
}

// Copies a reference that lies wholly behind `at` (distance >= 8 and at >=
// distance) in 8- or 16-byte steps. Each step reads only bytes already
// written, so an overlap repeats them as a byte-by-byte copy would; a step
// may write up to kWidest bytes from `at`, past the reference, into room
// that later bytes overwrite or the final size cuts off.
inline void copy_wide(std::uint8_t* data, std::size_t at, std::size_t distance, std::size_t count) {
  std::uint8_t* to = data + at;
  const std::uint8_t* from = to - distance;
  if (distance >= 16) {
    std::memcpy(to, from, 16);
    if (count > 16) std::memcpy(to + 16, from + 16, 16);
    return;
  }
  for (std::size_t done = 0; done < count; done += 8) std::memcpy(to + done, from + done, 8);
}

// A group of eight tokens reads at most 16 bytes after its flags (and a
// literal's 17-byte copy up to 17 past its own) and yields at most 8 * 17
// bytes, the last of which may be copied wide.
constexpr std::size_t kGroupStream = 16;
constexpr std::size_t kGroupRoom = 7 * kLongestReference + kWidest;

// Copies one back-reference of `count` bytes at `at`; the output has room for
// a wide copy when `wide_room`.
inline void copy_reference(std::uint8_t* data, std::size_t at, std::size_t distance,
                           std::size_t count, bool wide_room) {
  if (distance >= 8 && at >= distance && wide_room) {
    copy_wide(data, at, distance, count);
  } else if (distance < 8 && at >= distance) {
    // A short repeating pattern: a reference is at most 17 bytes.
    for (std::size_t k = 0; k < count; ++k) data[at + k] = data[at + k - distance];
  } else {
    copy_back_reference(data, at, distance, count);
  }
}

// Decodes the token stream into `data`, which has `room` for every byte it
// can yield, and returns how many bytes it wrote, at most `limit`.
std::size_t decode(const std::uint8_t* stream, std::size_t length, std::size_t limit,
                   std::uint8_t* data, std::size_t room) {
  std::size_t n = 0;
  std::size_t i = 0;
  while (i < length) {
    unsigned flags = stream[i++];
    // Where a whole group fits in both the stream and the output (room never
    // exceeds limit), its tokens need no end checks. Each copies 17 bytes
    // from its source, a literal's from the stream and a far reference's
    // from the output, so between those two the flag picks only the source
    // and the advance (a select, not a mispredicted branch); a near
    // reference, rare in practice, branches off to the exact copy.
    if (flags != 0 && length - i >= kGroupStream + kLongestReference && room - n >= kGroupRoom) {
      for (unsigned mask = 0x80; mask != 0; mask >>= 1) {
        const bool reference = (flags & mask) != 0;
        const std::size_t distance = stream[i] | std::size_t(stream[i + 1] >> 4) << 8;
        const std::size_t count = (stream[i + 1] & 0x0F) + 2;
        if (reference && (distance < 16 || n < distance)) {
          if (distance == 0 || n == 0) return n;
          copy_reference(data, n, distance, count, true);
          n += count;
          i += 2;
          continue;
        }
        const std::uint8_t* from = reference ? data + n - distance : stream + i;
        std::memcpy(data + n, from, 16);
        data[n + 16] = from[16];
        n += reference ? count : 1;
        i += reference ? 2 : 1;
      }
      continue;
    }
    // Groups of eight literals, the common case of data that does not
    // compress, copied while they last.
    while (flags == 0 && length - i >= 8 && limit - n >= 8) {
      // Eight such groups in a row need one test of their flags (written
      // out: the compiler does not unroll a loop over them).
      if (length - i >= 71 && limit - n >= 64 &&
          (stream[i + 8] | stream[i + 17] | stream[i + 26] | stream[i + 35] | stream[i + 44] |
           stream[i + 53] | stream[i + 62]) == 0) {
        std::memcpy(data + n, stream + i, 8);
        std::memcpy(data + n + 8, stream + i + 9, 8);
        std::memcpy(data + n + 16, stream + i + 18, 8);
        std::memcpy(data + n + 24, stream + i + 27, 8);
        std::memcpy(data + n + 32, stream + i + 36, 8);
        std::memcpy(data + n + 40, stream + i + 45, 8);
        std::memcpy(data + n + 48, stream + i + 54, 8);
        std::memcpy(data + n + 56, stream + i + 63, 8);
        n += 64;
        i += 71;
      } else {
        std::memcpy(data + n, stream + i, 8);
        n += 8;
        i += 8;
      }
      if (n == limit || i == length) return n;
      flags = stream[i++];
    }
    for (unsigned mask = 0x80; mask != 0; mask >>= 1) {
      if (i >= length) return n;
      if (flags & mask) {
        if (i + 1 >= length) return n;
        const std::size_t distance = stream[i] | std::size_t(stream[i + 1] >> 4) << 8;
        const std::size_t count = (stream[i + 1] & 0x0F) + 2;
        // Distance 0 ends the stream; a reference before any output has
        // nothing to copy and ends it too.
        if (distance == 0 || n == 0) return n;
        const std::size_t copied = std::min(count, limit - n);
        copy_reference(data, n, distance, copied, room - n >= kWidest);
        n += copied;
        i += 2;
      } else {
        data[n++] = stream[i++];
      }
      if (n == limit) return n;
    }
  }
  return n;
}

}  // namespace

std::size_t lrs_output_bound(std::uint32_t prefix, std::size_t stored_size) {
  if (stored_size < 4) return stored_size;
  return std::min<std::size_t>(prefix, (stored_size - 4) / 2 * kLongestReference + 1);
}

std::size_t lrs_output_bound(ByteView input) {
  return lrs_output_bound(input.size() < 4 ? 0 : coding::load_u32(input.data()), input.size());
}

std::optional<std::string> lrs_shortfall(ByteView input, std::size_t decoded) {
  if (input.size() < 4) {
    return "no length prefix in " + std::to_string(input.size()) + " stored bytes";
  }
  const std::uint32_t declared = coding::load_u32(input.data());
  if (decoded >= declared) return std::nullopt;
  return "declares " + std::to_string(declared) + " bytes, the stream yields " +
         std::to_string(decoded);
}

std::size_t decompress_lrs_into(ByteView input, std::span<std::uint8_t> out) {
  if (input.size() < 4) {
    std::copy(input.begin(), input.end(), out.begin());
    return input.size();
  }
  const std::size_t limit = coding::load_u32(input.data());
  const ByteView stream = input.subspan(4);
  // The room decode is given never exceeds the limit: its group path, which
  // checks only the room, so stops at the limit too.
  const std::size_t room = std::min(out.size(), limit);
  return limit == 0 ? 0 : decode(stream.data(), stream.size(), limit, out.data(), room);
}

Bytes decompress_lrs(ByteView input) {
  Bytes out(lrs_output_bound(input));
  out.resize(decompress_lrs_into(input, out));
  return out;
}

std::expected<Bytes, IoError> try_decompress_lrs(ByteView input) {
  Bytes out;
  if (auto sized = allocation::resize(out, lrs_output_bound(input)); !sized) {
    return std::unexpected(sized.error());
  }
  out.resize(decompress_lrs_into(input, out));
  return out;
}

}  // namespace brackwater_dat::utils
