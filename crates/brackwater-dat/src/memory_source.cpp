#include "memory_source.hpp"

#include <algorithm>
#include <cstring>

namespace brackwater_dat {

std::expected<std::size_t, IoError> MemorySource::read_at(std::uint64_t offset,
                                                          std::span<std::uint8_t> buffer) const {
  if (offset >= bytes_.size()) return 0;
  const std::size_t count = std::min<std::uint64_t>(buffer.size(), bytes_.size() - offset);
  std::memcpy(buffer.data(), bytes_.data() + offset, count);
  return count;
}

std::expected<std::size_t, IoError> MemorySource::read_scattered_at(
    std::uint64_t offset, std::span<const std::span<std::uint8_t>> parts) const {
  if (offset >= bytes_.size()) return 0;
  const std::uint8_t* from = bytes_.data() + offset;
  std::size_t left = bytes_.size() - offset;
  std::size_t total = 0;
  for (const auto part : parts) {
    const std::size_t count = std::min(part.size(), left);
    std::memcpy(part.data(), from, count);
    from += count, left -= count, total += count;
    if (count < part.size()) break;
  }
  return total;
}

}  // namespace brackwater_dat
