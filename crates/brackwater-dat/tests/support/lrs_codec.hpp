#pragma once

#include <brackwater_dat/bytes.hpp>

namespace brackwater_dat::test_support {

// An LRS encoder: the length prefix, then greedy matches of 3 to 17 bytes up
// to 4095 back, found through hash chains.
Bytes compress_lrs(ByteView data);

}  // namespace brackwater_dat::test_support
