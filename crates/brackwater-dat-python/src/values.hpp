#pragma once

#include <pybind11/pybind11.h>

#include <brackwater_dat/dat_file_entry.hpp>
#include <brackwater_dat/dat_header.hpp>
#include <brackwater_dat/file_type/sound_table.hpp>

namespace brackwater_dat::python {

// Adds the immutable value classes DatHeader, DatFileEntry, SoundEntry and
// SoundData, each with __repr__, __eq__ and __hash__.
void define_values(pybind11::module_& m);

pybind11::object make_header(const DatHeader& header);
pybind11::object make_entry(const DatFileEntry& entry);
pybind11::object make_sound(const file_type::SoundData& sound);

}  // namespace brackwater_dat::python
