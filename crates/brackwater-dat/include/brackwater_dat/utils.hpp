#pragma once

#include "brackwater_dat/bytes.hpp"

namespace brackwater_dat::utils {

// Decodes an LRS payload: a little-endian u32 length L, then groups of a flag
// byte and eight literal or back-reference tokens. Never fails: a malformed
// stream ends decoding and yields what was produced, at most L bytes. Input
// shorter than 4 bytes comes back unchanged.
Bytes decompress_lrs(ByteView input);

}  // namespace brackwater_dat::utils
