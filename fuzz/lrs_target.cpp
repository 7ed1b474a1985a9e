// decompress_lrs on arbitrary bytes, against the byte-at-a-time oracle.
#include <brackwater_dat/utils.hpp>
#include <cstdint>

#include "coding.hpp"
#include "fuzz_check.hpp"
#include "support/lrs_oracle.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const brackwater_dat::ByteView input(data, size);
  const auto out = brackwater_dat::utils::decompress_lrs(input);
  FUZZ_CHECK(out == brackwater_dat::test_support::decompress_lrs_reference(input));
  if (size >= 4) {
    const std::uint64_t limit = brackwater_dat::coding::load_u32(data);
    FUZZ_CHECK(out.size() <= limit);
  }
  return 0;
}
