#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>

#include "brackwater_dat/error.hpp"

namespace brackwater_dat {

// Where an archive's bytes come from. read_at may be called from many threads at once.
class Source {
 public:
  virtual ~Source() = default;
  // Reads up to buffer.size() bytes at `offset`. Returns the count read: fewer than asked
  // is allowed (the reader continues), 0 means the end of the data.
  virtual std::expected<std::size_t, IoError> read_at(std::uint64_t offset,
                                                      std::span<std::uint8_t> buffer) const = 0;
  // The data's length in bytes.
  virtual std::expected<std::uint64_t, IoError> length() const = 0;

  // Reads into each buffer of `parts` in turn, from the bytes at `offset` on, as one
  // read_at over their concatenation would. Returns the count read. The default reads
  // part by part; a source that can gather in one call (preadv, a memory copy) does.
  virtual std::expected<std::size_t, IoError> read_scattered_at(
      std::uint64_t offset, std::span<const std::span<std::uint8_t>> parts) const;

  // Advice that the bytes at [offset, offset + length) are likely to be read
  // soon: a source whose reads cost a round trip may fetch them along with
  // the reads it is asked for. It changes no answer; the default ignores it.
  virtual void will_need(std::uint64_t /*offset*/, std::uint64_t /*length*/) const {}
};

}  // namespace brackwater_dat
