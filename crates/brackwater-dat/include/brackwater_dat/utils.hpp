#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>

#include "brackwater_dat/bytes.hpp"
#include "brackwater_dat/error.hpp"

namespace brackwater_dat::utils {

// Decodes an LRS payload: a little-endian u32 length L, then groups of a flag
// byte and eight literal or back-reference tokens. Never fails: a malformed
// stream ends decoding and yields what was produced, at most L bytes. Input
// shorter than 4 bytes comes back unchanged.
// Throws std::bad_alloc, as a standard container would, when the output cannot
// be allocated.
Bytes decompress_lrs(ByteView input);

// The same, but an output that cannot be allocated is an OutOfMemory error:
// for callers that must not throw (get_file, the language bindings).
std::expected<Bytes, IoError> try_decompress_lrs(ByteView input);

// The most bytes decompress_lrs gives for `input`: its length prefix L, or
// less where its stream could not yield L bytes (no token yields more than
// 17 bytes from 2), so that a prefix cannot ask for more room than its
// stream could fill. Input shorter than 4 bytes comes back whole.
std::size_t lrs_output_bound(ByteView input);
// The same for a payload of `stored_size` bytes whose prefix is `prefix`.
std::size_t lrs_output_bound(std::uint32_t prefix, std::size_t stored_size);

// What is wrong with an LRS payload whose stream yielded `decoded` bytes:
// "declares L bytes, the stream yields N" where that is fewer than its length
// prefix L, "no length prefix in N stored bytes" where it has none; nothing
// for a stream that yields all it declares. The decoder stops quietly where a
// stream ends, so only a caller that asks sees the shortfall.
std::optional<std::string> lrs_shortfall(ByteView input, std::size_t decoded);

// Decodes `input` into `out`, which holds at least lrs_output_bound(input)
// bytes, and returns how many it wrote: the bytes decompress_lrs gives.
std::size_t decompress_lrs_into(ByteView input, std::span<std::uint8_t> out);

}  // namespace brackwater_dat::utils
