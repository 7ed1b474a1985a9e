#pragma once

#include <cstddef>
#include <expected>
#include <string>

#include "brackwater_dat/dat_file_entry.hpp"
#include "brackwater_dat/error.hpp"

// The errors the reader makes itself.
namespace brackwater_dat {

// A read that met the end of the data before its byte count was complete.
IoError unexpected_eof();

inline std::unexpected<DatError> io_error(IoError error) {
  return std::unexpected(io_failure(std::move(error)));
}

inline std::unexpected<DatError> corruption(std::string text) {
  return std::unexpected(DatError{DatError::Corruption{std::move(text)}});
}

}  // namespace brackwater_dat
