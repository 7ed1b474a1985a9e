#pragma once

#include <cstddef>
#include <expected>
#include <string>

#include "brackwater_dat/error.hpp"

// The errors the reader makes itself.
namespace brackwater_dat {

// A read that met the end of the data before its byte count was complete.
IoError unexpected_eof();

// An allocation of `bytes` that could not be had.
IoError out_of_memory(std::size_t bytes);

inline std::unexpected<DatError> io_error(IoError error) {
  return std::unexpected(DatError{DatError::Io{std::move(error)}});
}

inline std::unexpected<DatError> corruption(std::string text) {
  return std::unexpected(DatError{DatError::Corruption{std::move(text)}});
}

// "0x" and eight upper-case hexadecimal digits, as messages write file ids and offsets.
std::string hex32(std::uint32_t value);

}  // namespace brackwater_dat
