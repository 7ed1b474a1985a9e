// decompress_lrs on arbitrary bytes, against the byte-at-a-time oracle.
#include <brackwater_dat/utils.hpp>
#include <cstdint>

#include "fuzz_check.hpp"
#include "support/lrs_oracle.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const brackwater_dat::ByteView input(data, size);
  const auto out = brackwater_dat::utils::decompress_lrs(input);
  FUZZ_CHECK(out == brackwater_dat::test_support::decompress_lrs_reference(input));
  if (size >= 4) {
    const std::uint64_t limit =
        data[0] | data[1] << 8 | data[2] << 16 | std::uint64_t{data[3]} << 24;
    FUZZ_CHECK(out.size() <= limit);
  }
  return 0;
}
