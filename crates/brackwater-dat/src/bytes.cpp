#include "brackwater_dat/bytes.hpp"

#include "allocation.hpp"

namespace brackwater_dat {

std::expected<void, IoError> try_resize(Bytes& bytes, std::size_t size) noexcept {
  return allocation::resize(bytes, size);
}

}  // namespace brackwater_dat
