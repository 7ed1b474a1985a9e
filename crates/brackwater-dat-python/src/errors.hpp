#pragma once

#include <pybind11/pybind11.h>

#include <brackwater_dat/error.hpp>
#include <cstdint>
#include <optional>
#include <string_view>

namespace brackwater_dat::python {

// Adds DatError and its subclasses NotFoundError (also a KeyError), PathError
// (also an OSError) and ParseError to the module.
void define_errors(pybind11::module_& m);

// Raises the error as the module's exception: its str() the display text,
// its debug_text attribute the library's debug text. A PathError's filename
// is `path_as_given` (str, bytes or os.PathLike) when there is one.
[[noreturn]] void raise(const DatError& error,
                        const pybind11::object& path_as_given = pybind11::object());
[[noreturn]] void raise_parse(const ParseError& error);

// An argument that must be an unsigned 32-bit integer: OverflowError when it
// is out of range, TypeError when it is no integer.
std::uint32_t to_u32(const pybind11::object& value, std::string_view what);
std::int32_t to_i32(const pybind11::object& value, std::string_view what);
// The same, but none for an integer out of range or a non-integer.
std::optional<std::uint32_t> id_if_in_range(const pybind11::object& value);

}  // namespace brackwater_dat::python
