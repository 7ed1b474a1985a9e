// Any bytes, LRS-encoded by the library at both levels, decode back to
// themselves in streams a writer may make; best is never longer than fast.
#include <algorithm>
#include <brackwater_dat/lrs_encoder.hpp>
#include <cstdint>

#include "fuzz_check.hpp"
#include "support/lrs_oracle.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace brackwater_dat;
  const ByteView plain(data, size);
  const auto fast = utils::compress_lrs(plain, LrsLevel::fast);
  const auto best = utils::compress_lrs(plain, LrsLevel::best);
  FUZZ_CHECK(fast && best);
  FUZZ_CHECK(best->size() <= fast->size());
  for (const Bytes* packed : {&*fast, &*best}) {
    const auto unpacked = test_support::decompress_lrs_strict(*packed);
    FUZZ_CHECK(unpacked && ByteView(*unpacked).size() == size);
    FUZZ_CHECK(std::equal(unpacked->begin(), unpacked->end(), data));
  }
  return 0;
}
