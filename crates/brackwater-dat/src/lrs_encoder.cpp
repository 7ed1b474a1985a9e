#include "brackwater_dat/lrs_encoder.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "allocation.hpp"
#include "coding.hpp"
#include "errors.hpp"

namespace brackwater_dat::utils {
namespace {

// The token format's reach: a reference copies 2 to 17 bytes from 1 to 4095
// bytes back. Distance 0 would end the stream.
constexpr std::size_t kShortestReference = 2;
constexpr std::size_t kLongestReference = 17;
constexpr std::size_t kFarthest = 4095;
constexpr std::size_t kWindow = 4096;  // a power of two above kFarthest

struct Match {
  std::size_t length = 0;  // 0: none of kShortestReference bytes or more
  std::size_t distance = 0;
};

// Finds good matches quickly: the last position whose first eight bytes
// hashed alike; then positions whose first four hash alike, the newest
// first and at most `depth` of them; failing those, the last position whose
// first three hashed alike, then the last that shared two.
class HashMatchFinder {
 public:
  HashMatchFinder(ByteView data, std::size_t depth) : data_(data), depth_(depth) {
    head4_.fill(kNone);
    prev4_.fill(kNone);
    last8_.fill(kNone);
    last3_.fill(kNone);
    last2_.fill(kNone);
  }

  // The best match found at `at`, before `at` is added. Every position
  // before `at` must have been added, in order.
  Match longest(std::size_t at) const {
    Match best;
    const std::size_t n = data_.size();
    if (at + kShortestReference > n) return best;
    const std::size_t cap = std::min(kLongestReference, n - at);
    const std::uint8_t* here = data_.data() + at;
    auto consider = [&](std::uint32_t candidate) {
      if (candidate == kNone || at - candidate > kFarthest) return false;
      const std::uint8_t* there = data_.data() + candidate;
      if (there[best.length] != here[best.length]) return true;
      const std::size_t length = common_length(there, here, cap);
      if (length > best.length && length >= kShortestReference) best = {length, at - candidate};
      return best.length < cap;
    };
    if (at + 8 <= n) consider(last8_[hash8(at)]);
    if (best.length == cap) return best;
    if (at + 4 <= n) {
      std::size_t tries = depth_;
      for (std::uint32_t candidate = head4_[hash4(at)]; tries-- > 0 && consider(candidate);
           candidate = prev4_[candidate % kWindow]) {
      }
    }
    if (best.length < 4 && at + 3 <= n) consider(last3_[hash3(at)]);
    if (best.length < 3) consider(last2_[key2(at)]);
    return best;
  }

  void add(std::size_t at) {
    const std::size_t n = data_.size();
    const auto position = static_cast<std::uint32_t>(at);
    if (at + 4 <= n) {
      std::uint32_t& head = head4_[hash4(at)];
      prev4_[at % kWindow] = head;
      head = position;
    }
    if (at + 8 <= n) last8_[hash8(at)] = position;
    if (at + 3 <= n) last3_[hash3(at)] = position;
    if (at + 2 <= n) last2_[key2(at)] = position;
  }

 private:
  static constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

  // How many of the first `cap` bytes at `there` and `here` agree: eight at
  // a time where 24 bytes lie ahead of `here`, else one at a time.
  std::size_t common_length(const std::uint8_t* there, const std::uint8_t* here,
                            std::size_t cap) const {
    std::size_t length = 0;
    if (here + 24 <= data_.data() + data_.size()) {
      for (; length < cap; length += 8) {
        std::uint64_t a = 0, b = 0;
        std::memcpy(&a, there + length, 8);
        std::memcpy(&b, here + length, 8);
        if (a != b) {
          // The first byte that differs, where memory order puts it.
          const int bits = std::endian::native == std::endian::little ? std::countr_zero(a ^ b)
                                                                      : std::countl_zero(a ^ b);
          length += static_cast<std::size_t>(bits) / 8;
          break;
        }
      }
      return std::min(length, cap);
    }
    while (length < cap && there[length] == here[length]) ++length;
    return length;
  }

  std::uint32_t word(std::size_t at) const {
    return std::uint32_t{data_[at]} | std::uint32_t{data_[at + 1]} << 8 |
           std::uint32_t{data_[at + 2]} << 16;
  }
  std::uint16_t hash4(std::size_t at) const {
    return static_cast<std::uint16_t>(
        ((word(at) | std::uint32_t{data_[at + 3]} << 24) * 2654435761u) >> 16);
  }
  std::uint16_t hash8(std::size_t at) const {
    std::uint64_t eight = 0;
    std::memcpy(&eight, data_.data() + at, 8);
    return static_cast<std::uint16_t>((eight * 0x9E3779B97F4A7C15u) >> 48);
  }
  std::uint16_t hash3(std::size_t at) const {
    return static_cast<std::uint16_t>((word(at) * 2654435761u) >> 16);
  }
  std::uint16_t key2(std::size_t at) const {
    return static_cast<std::uint16_t>(data_[at] | data_[at + 1] << 8);
  }

  ByteView data_;
  std::size_t depth_;
  std::array<std::uint32_t, 65536> head4_;
  std::array<std::uint32_t, kWindow> prev4_;  // the chain's next, by position modulo the window
  std::array<std::uint32_t, 65536> last8_;
  std::array<std::uint32_t, 65536> last3_;
  std::array<std::uint32_t, 65536> last2_;
};

// The longest match at every position, exactly: positions sharing their
// first two bytes form a binary search tree ordered by the 17 bytes that
// follow, the newest at the root, so a parent is always newer than its
// children and the walk stops at the first node out of reach. Inserting a
// position walks to where it belongs, meeting the candidates nearest it in
// that order, among them the longest match; a candidate equal to it in all
// 17 bytes is replaced by it, being nearer. The last 16 positions, where
// fewer than 17 bytes remain, are searched directly.
class TreeMatchFinder {
 public:
  explicit TreeMatchFinder(ByteView data) : data_(data) {
    head_.fill(kNone);
    children_.fill(kNone);
  }

  // The longest match at `at`, after which `at` joins the tree. Positions
  // must come in order.
  Match next(std::size_t at) {
    const std::size_t n = data_.size();
    if (at + kShortestReference > n) return {};
    if (at + kLongestReference > n) return scan(at);
    const std::uint8_t* here = data_.data() + at;
    std::uint32_t& head = head_[static_cast<std::uint16_t>(here[0] | here[1] << 8)];
    std::uint32_t candidate = head;
    head = static_cast<std::uint32_t>(at);
    // Where the next smaller and the next larger candidate are to be linked,
    // and how many bytes all candidates on each side share with `at`.
    std::uint32_t* smaller = &children_[2 * (at % kWindow)];
    std::uint32_t* larger = smaller + 1;
    std::size_t smaller_shares = kShortestReference;
    std::size_t larger_shares = kShortestReference;
    Match best;
    while (candidate != kNone && at - candidate <= kFarthest) {
      const std::uint8_t* there = data_.data() + candidate;
      std::size_t length = std::min(smaller_shares, larger_shares);
      while (length < kLongestReference && there[length] == here[length]) ++length;
      if (length > best.length) best = {length, at - candidate};
      std::uint32_t* below = &children_[2 * (candidate % kWindow)];
      if (length == kLongestReference) {
        *smaller = below[0];
        *larger = below[1];
        return best;
      }
      if (there[length] < here[length]) {
        *smaller = candidate;
        smaller = below + 1;
        candidate = *smaller;
        smaller_shares = length;
      } else {
        *larger = candidate;
        larger = below;
        candidate = *larger;
        larger_shares = length;
      }
    }
    *smaller = *larger = kNone;
    return best;
  }

 private:
  static constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

  Match scan(std::size_t at) const {
    const std::size_t cap = data_.size() - at;
    Match best;
    for (std::size_t distance = 1; distance <= std::min(at, kFarthest); ++distance) {
      std::size_t length = 0;
      while (length < cap && data_[at + length] == data_[at + length - distance]) ++length;
      if (length > best.length && length >= kShortestReference) best = {length, distance};
    }
    return best;
  }

  ByteView data_;
  std::array<std::uint32_t, 65536> head_;
  std::array<std::uint32_t, 2 * kWindow>
      children_;  // smaller and larger, by position modulo the window
};

// Appends tokens after the length prefix: a flag byte opens each group of
// eight, its bits from 0x80 down marking the references.
class TokenWriter {
 public:
  explicit TokenWriter(Bytes& out) : out_(out) {}

  void literal(std::uint8_t byte) {
    next_token();
    out_.push_back(byte);
  }
  void reference(std::size_t distance, std::size_t length) {
    out_[flags_at_] |= next_token();
    out_.push_back(static_cast<std::uint8_t>(distance));
    out_.push_back(static_cast<std::uint8_t>((distance >> 8) << 4 | (length - kShortestReference)));
  }

 private:
  // The next token's flag bit, opening a group where the last is full.
  std::uint8_t next_token() {
    if (mask_ == 0) {
      flags_at_ = out_.size();
      out_.push_back(0);
      mask_ = 0x80;
    }
    const auto bit = static_cast<std::uint8_t>(mask_);
    mask_ >>= 1;
    return bit;
  }

  Bytes& out_;
  std::size_t flags_at_ = 0;
  unsigned mask_ = 0;
};

// Greedy, but a match is put off for a longer one at the next byte. Looking
// at 32 candidates keeps it within a tenth of best on text and tables.
void encode_fast(ByteView data, TokenWriter& tokens) {
  constexpr std::size_t kDepth = 32;
  constexpr std::size_t kTakenAsFound = 10;
  auto finder = std::make_unique<HashMatchFinder>(data, kDepth);
  std::size_t at = 0;
  Match match = finder->longest(0);
  finder->add(0);
  while (at < data.size()) {
    if (match.length == 0) {
      tokens.literal(data[at]);
      ++at;
      match = finder->longest(at);
      finder->add(at);
      continue;
    }
    // A match this long is taken as it is: one a byte later gains little.
    const Match next = match.length < kTakenAsFound ? finder->longest(at + 1) : Match{};
    finder->add(at + 1);
    if (next.length > match.length) {
      tokens.literal(data[at]);
      ++at;
      match = next;
      continue;
    }
    tokens.reference(match.distance, match.length);
    const std::size_t end = at + match.length;
    for (std::size_t p = at + 2; p < end; ++p) finder->add(p);
    at = end;
    match = finder->longest(at);
    finder->add(at);
  }
}

// The shortest stream: a shortest path over positions, where the state at a
// position is also the count of tokens so far modulo 8, since the token that
// opens a group pays for its flag byte. Every length from 2 up to the
// longest match at a position costs the same, so the longest match there
// stands for all of them.
Result<void> encode_best(ByteView data, TokenWriter& tokens) {
  constexpr std::uint32_t kUnreached = std::numeric_limits<std::uint32_t>::max();
  constexpr std::size_t kStates = 8;
  constexpr std::size_t kRing = 32;  // more than the farthest a token reaches ahead
  const std::size_t n = data.size();

  // The token length that reached each (position, state) on its shortest
  // path, and the distance of the longest match at each position.
  std::vector<std::uint8_t> arrived;
  std::vector<std::uint16_t> distance;
  if (auto grown = allocation::guarded((n + 1) * (kStates + 2),
                                       [&] {
                                         arrived.resize((n + 1) * kStates);
                                         distance.resize(n);
                                       });
      !grown) {
    return io_error(grown.error());
  }

  std::array<std::array<std::uint32_t, kStates>, kRing> cost;
  for (auto& row : cost) row.fill(kUnreached);
  cost[0][0] = 0;
  auto finder = std::make_unique<TreeMatchFinder>(data);
  for (std::size_t at = 0; at < n; ++at) {
    const Match match = finder->next(at);
    distance[at] = static_cast<std::uint16_t>(match.distance);
    auto& here = cost[at % kRing];
    for (std::size_t state = 0; state < kStates; ++state) {
      const std::uint32_t so_far = here[state];
      if (so_far == kUnreached) continue;
      const std::uint32_t flags = state == 0 ? 1 : 0;
      const std::size_t next = (state + 1) % kStates;
      auto relax = [&](std::size_t length, std::uint32_t total) {
        std::uint32_t& there = cost[(at + length) % kRing][next];
        if (total < there) {
          there = total;
          arrived[(at + length) * kStates + next] = static_cast<std::uint8_t>(length);
        }
      };
      relax(1, so_far + 1 + flags);
      for (std::size_t length = kShortestReference; length <= match.length; ++length) {
        relax(length, so_far + 2 + flags);
      }
    }
    here.fill(kUnreached);
  }

  // Back from the cheapest end state, then written forwards.
  const auto& end = cost[n % kRing];
  std::size_t state =
      static_cast<std::size_t>(std::min_element(end.begin(), end.end()) - end.begin());
  std::vector<std::uint8_t> path;
  for (std::size_t at = n; at > 0;) {
    const std::uint8_t length = arrived[at * kStates + state];
    path.push_back(length);
    at -= length;
    state = (state + kStates - 1) % kStates;
  }
  std::size_t at = 0;
  for (auto length = path.rbegin(); length != path.rend(); ++length) {
    if (*length == 1) {
      tokens.literal(data[at]);
    } else {
      tokens.reference(distance[at], *length);
    }
    at += *length;
  }
  return {};
}

}  // namespace

Result<Bytes> compress_lrs(std::span<const std::uint8_t> input, LrsLevel level) {
  if (input.size() > std::numeric_limits<std::uint32_t>::max()) {
    return std::unexpected(
        DatError{DatError::Other{"cannot compress " + std::to_string(input.size()) +
                                 " bytes: an LRS payload states its length in 32 bits"}});
  }
  // Literals only: the prefix, a flag byte per eight bytes, the bytes.
  const std::size_t worst = 4 + input.size() + (input.size() + 7) / 8;
  Bytes out;
  if (auto reserved = allocation::guarded(worst, [&] { out.reserve(worst); }); !reserved) {
    return io_error(reserved.error());
  }
  out.resize(4);
  coding::store_u32(out.data(), static_cast<std::uint32_t>(input.size()));
  TokenWriter tokens(out);
  if (level == LrsLevel::best) {
    if (auto encoded = encode_best(input, tokens); !encoded)
      return std::unexpected(encoded.error());
  } else {
    encode_fast(input, tokens);
  }
  return out;
}

}  // namespace brackwater_dat::utils
