#pragma once

#include <brackwater_dat/error.hpp>
#include <optional>

namespace brackwater_dat::test_support {

// The I/O error inside an Io error or a record-parse error, if there is one.
inline std::optional<IoError> io_cause(const DatError& error) {
  if (const auto* io = std::get_if<DatError::Io>(&error.value)) return io->error;
  if (const auto* bin = std::get_if<DatError::BinRead>(&error.value)) return bin->error.cause();
  return std::nullopt;
}

}  // namespace brackwater_dat::test_support
