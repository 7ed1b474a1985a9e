#pragma once

#include <cstdint>
#include <span>

#include "brackwater_dat/bytes.hpp"
#include "brackwater_dat/error.hpp"

namespace brackwater_dat {

// How hard the LRS encoder looks for a short stream. `fast` parses greedily,
// with one step of look-ahead, over up to 32 recent candidates a position;
// `best` gives the shortest stream the token format allows for the input.
enum class LrsLevel { fast, best };

namespace utils {

// An LRS payload that decompress_lrs turns back into exactly `input`: the
// little-endian length prefix, then the token stream. No reference reaches
// before the start of the output and no end marker is written: the length
// ends the stream. Input over 4 GiB - 1 bytes, which the prefix cannot
// state, is an Other error; memory that cannot be had is Io (OutOfMemory).
Result<Bytes> compress_lrs(std::span<const std::uint8_t> input, LrsLevel level = LrsLevel::fast);

}  // namespace utils
}  // namespace brackwater_dat
