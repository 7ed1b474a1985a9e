#include "support/fault_source.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace brackwater_dat::test_support {

std::expected<std::size_t, IoError> FaultSource::read_at(std::uint64_t offset,
                                                         std::span<std::uint8_t> buffer) const {
  const long call = ++plan_->reads;
  const auto mode = plan_->mode.load();
  if ((mode == FaultPlan::Mode::FailAt && call == plan_->fail_at.load()) ||
      (mode == FaultPlan::Mode::FailFrom && call >= plan_->fail_at.load())) {
    return std::unexpected(IoError::from_os(EIO));
  }
  if (mode == FaultPlan::Mode::Poison && offset < plan_->poison_end &&
      offset + buffer.size() > plan_->poison_begin) {
    return std::unexpected(IoError::from_os(EIO));
  }
  if (offset >= bytes_.size()) return 0;
  std::size_t count = std::min<std::uint64_t>(buffer.size(), bytes_.size() - offset);
  if (mode == FaultPlan::Mode::OneByte) count = std::min<std::size_t>(count, 1);
  std::memcpy(buffer.data(), bytes_.data() + offset, count);
  return count;
}

}  // namespace brackwater_dat::test_support
