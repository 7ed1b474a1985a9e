#include "values.hpp"

#include <pybind11/operators.h>
#include <pybind11/stl.h>

#include <bit>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "errors.hpp"

namespace py = pybind11;

namespace brackwater_dat::python {
namespace {

using file_type::SoundData;
using file_type::SoundEntry;

// A float as a Python float, bit for bit where a double can say it: -0.0
// stays -0.0, and a NaN keeps its sign, quiet bit and payload.
double widen(float value) {
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
  if ((bits & 0x7F800000u) != 0x7F800000u || (bits & 0x007FFFFFu) == 0) return value;
  const std::uint64_t sign = std::uint64_t{bits >> 31} << 63;
  const std::uint64_t payload = std::uint64_t{bits & 0x007FFFFFu} << 29;
  return std::bit_cast<double>(sign | 0x7FF0000000000000ull | payload);
}

// The reverse of widen, for SoundEntry values made in Python.
float narrow(double value) {
  if (std::isfinite(value) && std::abs(value) > std::numeric_limits<float>::max()) {
    PyErr_SetString(PyExc_OverflowError, "a float field holds a 32-bit float");
    throw py::error_already_set();
  }
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
  if ((bits & 0x7FF0000000000000ull) != 0x7FF0000000000000ull ||
      (bits & 0x000FFFFFFFFFFFFFull) == 0) {
    return static_cast<float>(value);
  }
  const std::uint32_t sign = static_cast<std::uint32_t>(bits >> 63) << 31;
  std::uint32_t payload = static_cast<std::uint32_t>((bits >> 29) & 0x007FFFFFu);
  if (payload == 0) payload = 0x00400000u;  // a NaN whose payload lived below float's bits
  return std::bit_cast<float>(sign | 0x7F800000u | payload);
}

std::string float_repr(float value) { return py::repr(py::float_(widen(value))); }

bool same_bits(float a, float b) {
  return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

bool same_entry(const SoundEntry& a, const SoundEntry& b) {
  return a.wave_did == b.wave_did && same_bits(a.priority, b.priority) &&
         same_bits(a.probability, b.probability) && same_bits(a.volume, b.volume);
}

std::string entry_repr(const SoundEntry& e) {
  return "SoundEntry(wave_did=" + hex_id(e.wave_did) + ", priority=" + float_repr(e.priority) +
         ", probability=" + float_repr(e.probability) + ", volume=" + float_repr(e.volume) + ")";
}

py::int_ hash_of(const py::tuple& fields) { return py::int_(py::hash(fields)); }

py::tuple entry_key(const SoundEntry& e) {
  return py::make_tuple(e.wave_did, std::bit_cast<std::uint32_t>(e.priority),
                        std::bit_cast<std::uint32_t>(e.probability),
                        std::bit_cast<std::uint32_t>(e.volume));
}

}  // namespace

void define_values(py::module_& m) {
  py::class_<DatHeader>(m, "DatHeader", "The archive header, kept exactly as read.")
      .def_readonly("magic", &DatHeader::magic)
      .def_readonly("block_size", &DatHeader::block_size)
      .def_readonly("file_size", &DatHeader::file_size)
      .def_readonly("dataset", &DatHeader::dataset)
      .def_readonly("subset", &DatHeader::subset)
      .def_readonly("free_head", &DatHeader::free_head)
      .def_readonly("free_tail", &DatHeader::free_tail)
      .def_readonly("free_count", &DatHeader::free_count)
      .def_readonly("root_offset", &DatHeader::root_offset)
      .def_readonly("new_lru", &DatHeader::new_lru)
      .def_readonly("old_lru", &DatHeader::old_lru)
      .def_readonly("use_lru", &DatHeader::use_lru)
      .def_readonly("master_map_id", &DatHeader::master_map_id)
      .def_readonly("engine_version", &DatHeader::engine_version)
      .def_readonly("game_version", &DatHeader::game_version)
      .def_property_readonly("version_string",
                             [](const DatHeader& h) {
                               return py::bytes(
                                   reinterpret_cast<const char*>(h.version_string.data()),
                                   h.version_string.size());
                             })
      .def_readonly("version_minor", &DatHeader::version_minor)
      .def(py::self == py::self)
      .def("__hash__",
           [](const DatHeader& h) {
             return py::hash(py::make_tuple(h.magic, h.block_size, h.root_offset, h.file_size));
           })
      .def("__repr__", [](const DatHeader& h) {
        return "DatHeader(magic=" + hex_id(h.magic) +
               ", block_size=" + std::to_string(h.block_size) +
               ", root_offset=" + hex_id(h.root_offset) +
               ", file_size=" + std::to_string(h.file_size) + ", ...)";
      });

  py::class_<DatFileEntry>(m, "DatFileEntry", "One file of the directory.")
      .def_readonly("id", &DatFileEntry::id)
      .def_readonly("bit_flags", &DatFileEntry::bit_flags)
      .def_readonly("offset", &DatFileEntry::offset)
      .def_readonly("size", &DatFileEntry::size)
      .def_readonly("timestamp", &DatFileEntry::timestamp)
      .def_readonly("version", &DatFileEntry::version)
      .def_property_readonly("compressed", [](const DatFileEntry& e) { return is_compressed(e); })
      .def(py::self == py::self)
      .def("__hash__",
           [](const DatFileEntry& e) {
             return hash_of(
                 py::make_tuple(e.id, e.bit_flags, e.offset, e.size, e.timestamp, e.version));
           })
      .def("__repr__", [](const DatFileEntry& e) {
        return "DatFileEntry(id=" + hex_id(e.id) + ", bit_flags=" + hex_id(e.bit_flags) +
               ", offset=" + hex_id(e.offset) + ", size=" + std::to_string(e.size) +
               ", timestamp=" + std::to_string(e.timestamp) +
               ", version=" + std::to_string(e.version) + ")";
      });

  py::class_<SoundEntry>(m, "SoundEntry", "One weighted reference from a sound kind to a wave.")
      .def(py::init(
               [](const py::object& wave_did, double priority, double probability, double volume) {
                 return SoundEntry{to_u32(wave_did, "wave_did"), narrow(priority),
                                   narrow(probability), narrow(volume)};
               }),
           py::arg("wave_did"), py::arg("priority"), py::arg("probability"), py::arg("volume"))
      .def_readonly("wave_did", &SoundEntry::wave_did)
      .def_property_readonly("priority", [](const SoundEntry& e) { return widen(e.priority); })
      .def_property_readonly("probability",
                             [](const SoundEntry& e) { return widen(e.probability); })
      .def_property_readonly("volume", [](const SoundEntry& e) { return widen(e.volume); })
      .def("__eq__",
           [](const SoundEntry& a, const py::object& b) -> py::object {
             if (!py::isinstance<SoundEntry>(b))
               return py::reinterpret_borrow<py::object>(Py_NotImplemented);
             return py::bool_(same_entry(a, b.cast<const SoundEntry&>()));
           })
      .def("__hash__", [](const SoundEntry& e) { return hash_of(entry_key(e)); })
      .def("__repr__", &entry_repr);

  py::class_<SoundData>(m, "SoundData", "A sound kind's entries, in payload order, and unknown.")
      .def(py::init([](std::vector<SoundEntry> entries, const py::object& unknown) {
             return SoundData{std::move(entries), to_i32(unknown, "unknown")};
           }),
           py::arg("entries"), py::arg("unknown"))
      .def_property_readonly("entries",
                             [](const SoundData& s) {
                               py::list list;
                               for (const auto& e : s.entries) list.append(py::cast(e));
                               return list;
                             })
      .def_readonly("unknown", &SoundData::unknown)
      .def("__eq__",
           [](const SoundData& a, const py::object& other) -> py::object {
             if (!py::isinstance<SoundData>(other))
               return py::reinterpret_borrow<py::object>(Py_NotImplemented);
             const auto& b = other.cast<const SoundData&>();
             return py::bool_(a.unknown == b.unknown &&
                              std::ranges::equal(a.entries, b.entries, same_entry));
           })
      .def("__hash__",
           [](const SoundData& s) {
             py::list keys;
             for (const auto& e : s.entries) keys.append(entry_key(e));
             return hash_of(py::make_tuple(py::tuple(keys), s.unknown));
           })
      .def("__repr__", [](const SoundData& s) {
        std::string text = "SoundData(entries=[";
        for (std::size_t i = 0; i < s.entries.size(); ++i) {
          text += (i ? ", " : "") + entry_repr(s.entries[i]);
        }
        return text + "], unknown=" + std::to_string(s.unknown) + ")";
      });
}

py::object make_header(const DatHeader& header) { return py::cast(header); }
py::object make_entry(const DatFileEntry& entry) { return py::cast(entry); }
py::object make_sound(const file_type::SoundData& sound) { return py::cast(sound); }

}  // namespace brackwater_dat::python
