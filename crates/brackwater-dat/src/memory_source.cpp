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

}  // namespace brackwater_dat
