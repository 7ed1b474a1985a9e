#include "source_reads.hpp"

#include "errors.hpp"

namespace brackwater_dat {

namespace source_reads {
namespace {

// A source that answers more than it was asked for breaks its contract; its
// count cannot be trusted to say where the bytes went.
IoError overlong_read() {
  return IoError::simple(IoErrorKind::InvalidData, "source returned more bytes than asked for");
}

std::size_t total_size(std::span<const std::span<std::uint8_t>> parts) {
  std::size_t total = 0;
  for (const auto part : parts) total += part.size();
  return total;
}

// Drops `count` bytes from the front of `parts`.
void consume(std::span<std::span<std::uint8_t>>& parts, std::size_t count) {
  while (!parts.empty() && count >= parts.front().size()) {
    count -= parts.front().size();
    parts = parts.subspan(1);
  }
  if (!parts.empty()) parts.front() = parts.front().subspan(count);
}

}  // namespace

std::expected<void, IoError> read_exact_at(const Source& source, std::uint64_t offset,
                                           std::span<std::span<std::uint8_t>> parts) {
  consume(parts, 0);
  while (!parts.empty()) {
    const std::size_t wanted = total_size(parts);
    const auto got = parts.size() == 1 ? source.read_at(offset, parts.front())
                                       : source.read_scattered_at(offset, parts);
    if (!got) return std::unexpected(got.error());
    if (*got == 0) {
      // The data ended at `offset`; the length says whether it is the archive's end.
      const auto length = source.length();
      return std::unexpected(length ? IoError::unexpected_end(offset, *length) : unexpected_eof());
    }
    if (*got > wanted) return std::unexpected(overlong_read());
    offset += *got;
    consume(parts, *got);
  }
  return {};
}

std::expected<void, IoError> read_exact_at(const Source& source, std::uint64_t offset,
                                           std::span<std::uint8_t> buffer) {
  std::span<std::uint8_t> part = buffer;
  return read_exact_at(source, offset, std::span(&part, 1));
}

PartialRead read_up_to(const Source& source, std::uint64_t offset, std::span<std::uint8_t> buffer) {
  std::size_t count = 0;
  while (count < buffer.size()) {
    const auto got = source.read_at(offset + count, buffer.subspan(count));
    if (!got) return {count, got.error()};
    if (*got == 0) break;
    if (*got > buffer.size() - count) return {count, overlong_read()};
    count += *got;
  }
  return {count, std::nullopt};
}

}  // namespace source_reads
}  // namespace brackwater_dat
