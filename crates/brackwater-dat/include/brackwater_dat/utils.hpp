#pragma once

#include <expected>

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

}  // namespace brackwater_dat::utils
