#include "brackwater_dat/source.hpp"

namespace brackwater_dat {

std::expected<std::size_t, IoError> Source::read_scattered_at(
    std::uint64_t offset, std::span<const std::span<std::uint8_t>> parts) const {
  std::size_t total = 0;
  for (const auto part : parts) {
    const auto got = read_at(offset + total, part);
    if (!got) return got;
    total += *got;
    if (*got < part.size()) break;
  }
  return total;
}

}  // namespace brackwater_dat
