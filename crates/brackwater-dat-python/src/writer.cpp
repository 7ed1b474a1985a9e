#include "writer.hpp"

#include <brackwater_dat/archive_writer.hpp>
#include <optional>
#include <string>

#include "buffer_view.hpp"
#include "errors.hpp"

namespace py = pybind11;

namespace brackwater_dat::python {
namespace {

// The command line's words for how a file is stored.
Compression compression_of(const std::string& name) {
  if (name == "store") return Compression::store;
  if (name == "fast") return Compression::lrs_fast;
  if (name == "best") return Compression::lrs_best;
  if (name == "smaller") return Compression::smaller;
  throw py::value_error("compression is \"store\", \"fast\", \"best\" or \"smaller\", not \"" +
                        name + "\"");
}

LrsLevel level_of(const std::string& name) {
  if (name == "fast") return LrsLevel::fast;
  if (name == "best") return LrsLevel::best;
  throw py::value_error("level is \"fast\" or \"best\", not \"" + name + "\"");
}

class PyWriter {
 public:
  PyWriter(const py::object& path, std::uint32_t block_size, const py::object& header,
           bool overwrite) {
    const auto encoded = py::cast<std::string>(py::module_::import("os").attr("fsencode")(path));
    if (encoded.find('\0') != std::string::npos) throw py::value_error("embedded null byte");
    WriterOptions options{block_size, header.is_none() ? DatHeader{} : header.cast<DatHeader>(),
                          overwrite};
    auto writer = [&] {
      py::gil_scoped_release released;
      return ArchiveWriter::create(encoded, options);
    }();
    if (!writer) raise(writer.error(), path);
    writer_.emplace(std::move(*writer));
  }

  void add(const py::object& id, const py::object& data, const std::string& compression,
           const py::object& timestamp, const py::object& version) {
    const std::uint32_t file = to_u32(id, "file id");
    const Compression how = compression_of(compression);
    const std::uint32_t time = to_u32(timestamp, "timestamp");
    const std::uint32_t number = to_u32(version, "version");
    const BufferView view(data);
    ArchiveWriter& writer = live();
    py::gil_scoped_release released;
    raise_after(writer.add(file, view.bytes(), how, time, number));
  }

  void add_stored(const DatFileEntry& entry, const py::object& stored) {
    const BufferView view(stored);
    ArchiveWriter& writer = live();
    py::gil_scoped_release released;
    raise_after(writer.add_stored(entry, view.bytes()));
  }

  void commit() {
    ArchiveWriter& writer = live();
    py::gil_scoped_release released;
    raise_after(writer.commit());
  }

  // Removes what it wrote: the archive never appears.
  void abandon() { writer_.reset(); }

  bool exit(const py::object& type, const py::object&, const py::object&) {
    if (type.is_none()) {
      commit();
    } else {
      abandon();
    }
    return false;
  }

 private:
  ArchiveWriter& live() {
    if (!writer_) throw py::value_error("the writer was abandoned");
    return *writer_;
  }

  // Raises with the GIL held again.
  static void raise_after(Result<void> result) {
    if (result) return;
    py::gil_scoped_acquire held;
    raise(result.error());
  }

  std::optional<ArchiveWriter> writer_;
};

}  // namespace

void define_writer(py::module_& m) {
  py::class_<PyWriter>(m, "ArchiveWriter",
                       "Writes a new archive at `path`; used in a with block, it commits when the "
                       "block ends and abandons what it wrote when an exception leaves it, so "
                       "that nothing appears at the path half-written.")
      .def(py::init<const py::object&, std::uint32_t, const py::object&, bool>(), py::arg("path"),
           py::arg("block_size") = 1024, py::arg("header") = py::none(),
           py::arg("overwrite") = false,
           "block_size: 512 to 1 MiB, a multiple of 4; header: a DatHeader whose stored-only "
           "fields the archive keeps; overwrite: replace a file at the path.")
      .def("add", &PyWriter::add, py::arg("id"), py::arg("data"), py::arg("compression") = "store",
           py::arg("timestamp") = 0, py::arg("version") = 0,
           "Adds a file of any bytes-like data, stored as \"store\", \"fast\", \"best\" or "
           "\"smaller\" say; an id added twice is a DatError.")
      .def("add_stored", &PyWriter::add_stored, py::arg("entry"), py::arg("stored"),
           "Adds a payload exactly as another archive stores it, with its entry's flags, "
           "timestamp and version.")
      .def("commit", &PyWriter::commit,
           "Writes the directory and header and puts the archive at its path in one rename.")
      .def("__enter__", [](py::object self) { return self; })
      .def("__exit__", &PyWriter::exit);

  m.def(
      "compress_lrs",
      [](const py::object& data, const std::string& level) {
        const LrsLevel how = level_of(level);
        const BufferView view(data);
        auto packed = [&] {
          py::gil_scoped_release released;
          return utils::compress_lrs(view.bytes(), how);
        }();
        if (!packed) raise(packed.error());
        return py::bytes(reinterpret_cast<const char*>(packed->data()), packed->size());
      },
      py::arg("data"), py::arg("level") = "fast",
      "An LRS payload of the data (its length prefix, then the token stream): \"fast\", or "
      "\"best\" for the smallest stream the format allows.");
}

}  // namespace brackwater_dat::python
