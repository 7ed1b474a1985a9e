#pragma once

#include <algorithm>
#include <cstdlib>
#include <expected>
#include <new>
#include <vector>

#include "brackwater_dat/bytes.hpp"
#include "errors.hpp"

// Allocations whose size an archive chooses. A hostile length must end in an
// OutOfMemory error, never in std::bad_alloc escaping a reader operation.
namespace brackwater_dat::allocation {

// Runs `grow` (which allocates about `bytes`), turning a failed allocation into
// OutOfMemory. Without exceptions only a stated `bytes` can be checked, ahead.
template <class Grow>
std::expected<void, IoError> guarded(std::size_t bytes, Grow&& grow) noexcept {
#if defined(__cpp_exceptions)
  try {
    grow();
  } catch (const std::bad_alloc&) {
    return std::unexpected(IoError::out_of_memory(bytes));
  }
#else
  // Without exceptions a failed allocation cannot be caught, only foreseen:
  // ask the allocator first (one thread, as in WebAssembly, keeps the answer
  // good until the real allocation).
  if (bytes != 0) {
    void* probe = std::malloc(bytes);
    if (probe == nullptr) return std::unexpected(IoError::out_of_memory(bytes));
    std::free(probe);
  }
  grow();
#endif
  return {};
}

inline std::expected<void, IoError> resize(Bytes& bytes, std::size_t size) noexcept {
  return guarded(size, [&] { bytes.resize(size); });
}

// Makes room in `items` for `more` items, doubling its storage where it is
// full, so that appending them then allocates nothing: the growth is the
// stated allocation, which fails as OutOfMemory with exceptions or without.
template <class T>
std::expected<void, IoError> reserve_for(std::vector<T>& items, std::size_t more) noexcept {
  if (items.capacity() - items.size() >= more) return {};
  const std::size_t capacity = std::max(2 * items.capacity(), items.size() + more);
  return guarded(capacity * sizeof(T), [&] { items.reserve(capacity); });
}

}  // namespace brackwater_dat::allocation
