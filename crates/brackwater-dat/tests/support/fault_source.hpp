#pragma once

#include <atomic>
#include <brackwater_dat/bytes.hpp>
#include <brackwater_dat/source.hpp>
#include <memory>

namespace brackwater_dat::test_support {

// What a FaultSource does to its reads; shared with the test, which changes
// it while a database owns the source.
struct FaultPlan {
  enum class Mode { None, OneByte, FailAt, FailFrom, Poison };
  std::atomic<Mode> mode{Mode::None};
  // With FailAt this read (counting from 1) fails with EIO; with FailFrom, it
  // and every read after it.
  std::atomic<long> fail_at{0};
  std::atomic<long> reads{0};  // read_at calls so far
  // With Poison: a read that touches [poison_begin, poison_end) fails with EIO.
  std::uint64_t poison_begin = 0;
  std::uint64_t poison_end = 0;
};

// An archive in memory whose reads can be cut to one byte, failed at a chosen
// call, or failed wherever they touch a poisoned range. Defines only the two
// functions every Source must.
class FaultSource : public Source {
 public:
  FaultSource(Bytes bytes, std::shared_ptr<FaultPlan> plan)
      : bytes_(std::move(bytes)), plan_(std::move(plan)) {}

  std::expected<std::size_t, IoError> read_at(std::uint64_t offset,
                                              std::span<std::uint8_t> buffer) const override;
  std::expected<std::uint64_t, IoError> length() const override { return bytes_.size(); }

 private:
  Bytes bytes_;
  std::shared_ptr<FaultPlan> plan_;
};

}  // namespace brackwater_dat::test_support
