// Any bytes, LRS-encoded by the test encoder, decode back to themselves.
#include <algorithm>
#include <brackwater_dat/utils.hpp>
#include <cstdint>

#include "fuzz_check.hpp"
#include "support/lrs_codec.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const brackwater_dat::ByteView plain(data, size);
  const auto packed = brackwater_dat::test_support::compress_lrs(plain);
  const auto unpacked = brackwater_dat::utils::decompress_lrs(packed);
  FUZZ_CHECK(brackwater_dat::ByteView(unpacked).size() == size);
  FUZZ_CHECK(std::equal(unpacked.begin(), unpacked.end(), data));
  return 0;
}
