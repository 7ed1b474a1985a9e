#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <vector>

#include "brackwater_dat/error.hpp"

namespace brackwater_dat {

using Bytes = std::vector<std::uint8_t>;         // an owned byte string
using ByteView = std::span<const std::uint8_t>;  // a read-only view of one

// Resizes `bytes` to `size`: an allocation that cannot be had is an
// OutOfMemory error, not std::bad_alloc, for callers that must not throw.
std::expected<void, IoError> try_resize(Bytes& bytes, std::size_t size) noexcept;

}  // namespace brackwater_dat
