#pragma once

#include <brackwater_dat/bytes.hpp>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>

namespace brackwater_dat::test_support {

// Fills `count` bytes at `to` from the archive at `offset`, or gives the
// error's debug text as the reader words it.
using ReadExact = std::function<std::optional<std::string>(std::uint64_t offset, std::uint8_t* to,
                                                           std::size_t count)>;

// The block-chain rules written the plain way: one read for each link and one
// for each payload, at most the archive's length, the chain's end read on
// past its last block, offsets wrapping at 2^32. Gives the bytes, or the
// error's debug text ("Corruption(loops)" for a chain that never ends).
std::variant<Bytes, std::string> read_chain_one_block_at_a_time(const ReadExact& read,
                                                                std::uint64_t length,
                                                                std::uint32_t block_size,
                                                                std::uint32_t first_block,
                                                                std::uint32_t size);

}  // namespace brackwater_dat::test_support
