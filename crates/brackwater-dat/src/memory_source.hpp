#pragma once

#include "brackwater_dat/bytes.hpp"
#include "brackwater_dat/source.hpp"

namespace brackwater_dat {

// An archive held in memory, owned.
class MemorySource final : public Source {
 public:
  explicit MemorySource(Bytes bytes) noexcept : bytes_(std::move(bytes)) {}

  std::expected<std::size_t, IoError> read_at(std::uint64_t offset,
                                              std::span<std::uint8_t> buffer) const override;
  std::expected<std::uint64_t, IoError> length() const override { return bytes_.size(); }
  // Copies straight into each part, without a call per part.
  std::expected<std::size_t, IoError> read_scattered_at(
      std::uint64_t offset, std::span<const std::span<std::uint8_t>> parts) const override;

 private:
  Bytes bytes_;
};

}  // namespace brackwater_dat
