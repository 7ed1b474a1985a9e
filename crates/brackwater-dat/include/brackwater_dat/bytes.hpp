#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace brackwater_dat {

using Bytes = std::vector<std::uint8_t>;         // an owned byte string
using ByteView = std::span<const std::uint8_t>;  // a read-only view of one

}  // namespace brackwater_dat
