#pragma once

#include <pybind11/pybind11.h>

namespace brackwater_dat::python {

// Adds ArchiveWriter, a context manager that commits when its block ends and
// abandons what it wrote when an exception leaves it, and compress_lrs.
void define_writer(pybind11::module_& m);

}  // namespace brackwater_dat::python
