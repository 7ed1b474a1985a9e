// The brackwater_dat Python module: the archive reader and sound tables with
// Python's conventions. Values are plain Python objects that own their data;
// failures are exceptions of the module's own hierarchy.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <bit>
#include <brackwater_dat/brackwater_dat.hpp>
#include <brackwater_dat/http_source.hpp>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "buffer_view.hpp"
#include "errors.hpp"
#include "values.hpp"
#include "writer.hpp"

namespace py = pybind11;
namespace bw = brackwater_dat;

namespace brackwater_dat::python {
namespace {

// The result, or the failure raised as the module's exception; a path that
// cannot be opened is named as it was given.
template <class T>
T value_or_raise(Result<T>&& result, const py::object& path_as_given = py::object()) {
  if (!result) raise(result.error(), path_as_given);
  return std::move(*result);
}

py::bytes to_bytes(const Bytes& bytes) {
  return py::bytes(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// A bytes object of `size` bytes for a read to fill, and cut to what it wrote.
class FreshBytes {
 public:
  explicit FreshBytes(std::size_t size)
      : object_(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size))) {
    if (object_ == nullptr) throw py::error_already_set();
  }
  ~FreshBytes() { Py_XDECREF(object_); }
  FreshBytes(const FreshBytes&) = delete;
  FreshBytes& operator=(const FreshBytes&) = delete;

  std::span<std::uint8_t> span() const noexcept {
    return {reinterpret_cast<std::uint8_t*>(PyBytes_AS_STRING(object_)),
            static_cast<std::size_t>(PyBytes_GET_SIZE(object_))};
  }
  py::bytes take(std::size_t written) {
    // A bytes object no one else holds yet may be shortened in place.
    if (written < span().size() &&
        _PyBytes_Resize(&object_, static_cast<Py_ssize_t>(written)) != 0) {
      throw py::error_already_set();
    }
    return py::reinterpret_steal<py::bytes>(std::exchange(object_, nullptr));
  }

 private:
  PyObject* object_;
};

// Runs `read(buffer_for)` without the GIL and returns the bytes object it
// read into: `buffer_for(size)` makes it, with the GIL, once the read knows
// its size (which a hostile entry cannot make larger than the archive
// allows), and the read returns how many bytes it wrote. A failure to make
// it is raised as Python's own error, once the read has returned.
template <class Read>
py::bytes read_into_fresh_bytes(Read&& read) {
  std::optional<FreshBytes> bytes;
  bool python_error = false;
  const DatDatabase::BufferFor buffer_for =
      [&](std::size_t size) -> Result<std::span<std::uint8_t>> {
    const py::gil_scoped_acquire held;
    try {
      return bytes.emplace(size).span();
    } catch (py::error_already_set& error) {
      python_error = true;
      error.restore();
      return std::unexpected(DatError{DatError::Other{"no bytes object"}});
    }
  };
  Result<std::size_t> written = [&] {
    py::gil_scoped_release released;
    return read(buffer_for);
  }();
  if (python_error) throw py::error_already_set();
  // A failed read made no bytes object: raise before taking one.
  const std::size_t count = value_or_raise(std::move(written));
  return bytes->take(count);
}

class PyDatabase {
 public:
  explicit PyDatabase(DatDatabase db) : db_(std::make_shared<const DatDatabase>(std::move(db))) {}

  static DirectoryLoading loading(bool on_demand) {
    return on_demand ? DirectoryLoading::on_demand : DirectoryLoading::whole;
  }

  // A file by default read whole; a URL on demand, by range requests, with
  // `headers` (a mapping) sent along and `timeout` seconds for each request.
  static PyDatabase open(const py::object& path, std::optional<bool> on_demand,
                         const py::object& headers, double timeout) {
    // Asked of the str itself: a path need not be UTF-8 text.
    if (py::isinstance<py::str>(path) &&
        path.attr("lower")()
            .attr("startswith")(py::make_tuple("http://", "https://"))
            .cast<bool>()) {
      return open_url(path.cast<std::string>(), on_demand.value_or(true), headers, timeout);
    }
    // os.fsencode takes str and os.PathLike and gives the bytes the system sees.
    const auto encoded = py::cast<std::string>(py::module_::import("os").attr("fsencode")(path));
    // The system would stop at a NUL and open another file; Python's open refuses too.
    if (encoded.find('\0') != std::string::npos) throw py::value_error("embedded null byte");
    if (!headers.is_none()) throw py::value_error("headers are sent only for an http(s) URL");
    const std::filesystem::path native = encoded;
    auto db = [&] {
      py::gil_scoped_release released;
      return DatDatabase::open(native, loading(on_demand.value_or(false)));
    }();
    return PyDatabase(value_or_raise(std::move(db), path));
  }

  static PyDatabase open_url(const std::string& url, bool on_demand, const py::object& headers,
                             double timeout) {
    HttpOptions options;
    if (!(timeout > 0 && timeout <= 86400)) {
      throw py::value_error("timeout is seconds, above 0 and at most 86400");
    }
    options.timeout =
        std::chrono::milliseconds(static_cast<std::int64_t>(std::ceil(timeout * 1000)));
    if (!headers.is_none()) {
      // The library judges each header; a name or value that is no text is a TypeError.
      for (const auto& [name, value] : py::cast<py::dict>(headers)) {
        if (!py::isinstance<py::str>(name) || !py::isinstance<py::str>(value)) {
          throw py::type_error("headers are a mapping of str to str");
        }
        options.headers.push_back(py::cast<std::string>(name) + ": " +
                                  py::cast<std::string>(value));
      }
    }
    auto db = [&]() -> Result<DatDatabase> {
      py::gil_scoped_release released;
      auto source = open_http_source(url, std::move(options));
      if (!source) return std::unexpected(source.error());
      return DatDatabase::open_source(std::move(*source), loading(on_demand));
    }();
    return PyDatabase(value_or_raise(std::move(db), py::str(url)));
  }

  static PyDatabase from_bytes(const py::object& data, bool on_demand) {
    const BufferView view(data);
    Bytes bytes(view.bytes().begin(), view.bytes().end());
    auto db = [&] {
      py::gil_scoped_release released;
      return DatDatabase::open_memory(std::move(bytes), loading(on_demand));
    }();
    return PyDatabase(value_or_raise(std::move(db)));
  }

  py::object header() const { return make_header(db()->header()); }
  bool on_demand() const { return db()->loading() == DirectoryLoading::on_demand; }

  // Closing lets the archive go once no call still reads it; later calls
  // raise, as a closed Python file does.
  void close() { db_.reset(); }

  py::list header_problems() const {
    const auto db = this->db();
    py::list problems;
    for (const std::string& problem : check_header(db->header(), db->length())) {
      problems.append(problem);
    }
    return problems;
  }

  std::size_t size() const {
    const auto db = this->db();
    if (!on_demand()) return db->directory().size();
    auto listed = [&] {
      py::gil_scoped_release released;
      return db->entries();
    }();
    return value_or_raise(std::move(listed)).size();
  }

  // A lookup on demand reads nodes, so it runs without the GIL; a failure
  // other than the id's absence is raised, not taken for absence.
  bool contains(const py::object& id) const {
    const auto value = id_if_in_range(id);
    if (!value) return false;
    const auto found = find(*value);
    if (!found && !std::holds_alternative<DatError::NotFound>(found.error().value)) {
      raise(found.error());
    }
    return found.has_value();
  }

  py::object entry(const py::object& id) const {
    return make_entry(value_or_raise(find(to_u32(id, "file id"))));
  }

  py::list entries() const {
    const auto db = this->db();
    auto listed = [&] {
      py::gil_scoped_release released;
      return db->entries();
    }();
    const auto sorted = value_or_raise(std::move(listed));
    py::list list(sorted.size());
    for (std::size_t i = 0; i < sorted.size(); ++i) list[i] = make_entry(sorted[i]);
    return list;
  }

  py::bytes get_file(const py::object& id, bool strict) const {
    const std::uint32_t value = to_u32(id, "file id");
    const auto db = this->db();
    const ShortStream short_stream = strict ? ShortStream::fail : ShortStream::keep;
    return read_into_fresh_bytes([&](const DatDatabase::BufferFor& buffer) {
      return db->read_file(value, buffer, short_stream);
    });
  }

  std::size_t read_file_into(const py::object& id, const py::object& buffer) const {
    const std::uint32_t value = to_u32(id, "file id");
    const BufferView view(buffer, true);
    const auto db = this->db();
    auto written = [&] {
      py::gil_scoped_release released;
      return db->read_file(value, view.writable_bytes());
    }();
    return value_or_raise(std::move(written));
  }

  py::bytes read_file_data(const py::object& first_block, const py::object& size) const {
    const std::uint32_t block = to_u32(first_block, "first_block");
    const std::uint32_t count = to_u32(size, "size");
    const auto db = this->db();
    return read_into_fresh_bytes([&](const DatDatabase::BufferFor& buffer) -> Result<std::size_t> {
      if (auto read = db->read_file_data(block, count, buffer); !read) {
        return std::unexpected(std::move(read.error()));
      }
      return count;
    });
  }

 private:
  // The open archive, held by the call for as long as it reads: a close()
  // from another thread meanwhile does not pull it away.
  std::shared_ptr<const DatDatabase> db() const {
    if (!db_) raise(DatError{DatError::Other{"the archive is closed"}});
    return db_;
  }

  Result<DatFileEntry> find(std::uint32_t id) const {
    const auto db = this->db();
    if (db->loading() == DirectoryLoading::whole) return db->find(id);
    py::gil_scoped_release released;
    return db->find(id);
  }

  std::shared_ptr<const DatDatabase> db_;
};

class PySoundTable {
 public:
  static PySoundTable unpack(const py::object& data) {
    auto table = file_type::SoundTable::unpack(BufferView(data).bytes());
    if (!table) raise_parse(table.error());
    return PySoundTable(std::move(*table));
  }

  std::uint32_t id() const { return table_.id(); }
  std::int32_t hash_key() const { return table_.hash_key(); }

  py::dict hashes() const {
    py::dict out;
    for (const auto& [key, row] : table_.hashes()) {
      out[py::int_(key)] = py::make_tuple(row.words[0], row.words[1], row.words[2]);
    }
    return out;
  }

  py::dict sounds() const {
    py::dict out;
    for (const auto& [kind, sound] : table_.sounds()) out[py::int_(kind)] = make_sound(sound);
    return out;
  }

  bool operator==(const PySoundTable& other) const {
    return id() == other.id() && hash_key() == other.hash_key() && hashes().equal(other.hashes()) &&
           sounds().equal(other.sounds());
  }

  std::string repr() const {
    return "SoundTable(id=" + hex_id(id()) + ", hash_key=" + std::to_string(hash_key()) + ", " +
           std::to_string(table_.hashes().size()) + " hashes, " +
           std::to_string(table_.sounds().size()) + " sounds)";
  }

  py::object resolve_sound(const py::object& kind) const {
    const auto wave = table_.resolve_sound(to_u32(kind, "sound kind"));
    if (!wave) return py::none();
    return py::int_(*wave);
  }

 private:
  explicit PySoundTable(file_type::SoundTable table) : table_(std::move(table)) {}

  file_type::SoundTable table_;
};

}  // namespace
}  // namespace brackwater_dat::python

PYBIND11_MODULE(_brackwater_dat, m) {
  using namespace brackwater_dat::python;
  m.doc() = "Reads and writes the game client's DAT archives and decodes their sound tables.";
  m.attr("__version__") = std::string(bw::version());
  define_errors(m);
  define_values(m);
  define_writer(m);

  py::class_<PyDatabase>(m, "DatDatabase",
                         "An open archive, its directory read whole or on demand; safe to "
                         "share between threads.")
      .def_static("open", &PyDatabase::open, py::arg("path"), py::arg("on_demand") = py::none(),
                  py::arg("headers") = py::none(), py::arg("timeout") = 30.0,
                  "Opens the archive file at `path` (str or os.PathLike), or at an http:// or "
                  "https:// URL by range requests. With on_demand (a URL's default), no "
                  "directory node is read until a lookup needs it. For a URL, `headers` (a "
                  "dict) go with every request, and a request fails after `timeout` seconds "
                  "without a byte.")
      .def_static("from_bytes", &PyDatabase::from_bytes, py::arg("data"),
                  py::arg("on_demand") = false,
                  "Opens an archive held in any bytes-like object; the database keeps its own "
                  "copy.")
      .def_property_readonly("header", &PyDatabase::header, "The archive header (DatHeader).")
      .def_property_readonly("on_demand", &PyDatabase::on_demand,
                             "Whether lookups read the directory's nodes as they go.")
      .def("header_problems", &PyDatabase::header_problems,
           "What in the header does not look like an archive's, a line each; [] when it does.")
      .def("__len__", &PyDatabase::size)
      .def("__contains__", &PyDatabase::contains)
      .def(
          "__getitem__",
          [](const PyDatabase& db, const py::object& id) { return db.get_file(id, false); },
          py::arg("file_id"))
      .def(
          "__iter__", [](const PyDatabase& db) { return db.entries().attr("__iter__")(); },
          "The directory's entries, sorted by id.")
      .def("close", &PyDatabase::close,
           "Lets the archive go; later calls raise DatError. Leaving a with block closes it.")
      .def("__enter__", [](PyDatabase& db) -> PyDatabase& { return db; })
      .def("__exit__",
           [](PyDatabase& db, const py::args&) {
             db.close();
             return false;
           })
      .def("entry", &PyDatabase::entry, py::arg("file_id"),
           "The directory entry of `file_id`; NotFoundError when absent.")
      .def("entries", &PyDatabase::entries, "Every directory entry, sorted by id.")
      .def("get_file", &PyDatabase::get_file, py::arg("file_id"), py::arg("strict") = false,
           "The file's contents, decompressed when its entry says so. A compressed file whose "
           "stream ends before its declared length gives what decodes, or with strict "
           "raises DatError naming both sizes.")
      .def("read_file_into", &PyDatabase::read_file_into, py::arg("file_id"), py::arg("buffer"),
           "Reads the file's contents, as get_file gives them, into a writable buffer (a "
           "bytearray, memoryview or numpy array) of at least its size; returns the bytes "
           "written.")
      .def("read_file_data", &PyDatabase::read_file_data, py::arg("first_block"), py::arg("size"),
           "Exactly `size` bytes of the block chain that starts at `first_block`.");

  py::class_<PySoundTable>(m, "SoundTable", "A decoded sound table (file type 0x20).")
      .def_static("unpack", &PySoundTable::unpack, py::arg("data"),
                  "Decodes a whole sound-table payload; ParseError when it ends inside a field.")
      .def_property_readonly("id", &PySoundTable::id)
      .def_property_readonly("hash_key", &PySoundTable::hash_key)
      .def_property_readonly("hashes", &PySoundTable::hashes,
                             "dict: key -> (w0, w1, w2), the hash records' words.")
      .def_property_readonly("sounds", &PySoundTable::sounds, "dict: sound kind -> SoundData.")
      .def("resolve_sound", &PySoundTable::resolve_sound, py::arg("kind"),
           "The wave of the kind's first entry, or None.")
      .def("__eq__",
           [](const PySoundTable& a, const py::object& b) -> py::object {
             if (!py::isinstance<PySoundTable>(b)) {
               return py::reinterpret_borrow<py::object>(Py_NotImplemented);
             }
             return py::bool_(a == b.cast<const PySoundTable&>());
           })
      .def("__hash__",
           [](const PySoundTable& t) { return py::hash(py::make_tuple(t.id(), t.hash_key())); })
      .def("__repr__", &PySoundTable::repr);

  m.def("open", &PyDatabase::open, py::arg("path"), py::arg("on_demand") = py::none(),
        py::arg("headers") = py::none(), py::arg("timeout") = 30.0,
        "Opens the archive file or URL at `path`, as DatDatabase.open does.");

  m.def(
      "decompress_lrs",
      [](const py::object& data) {
        auto out = bw::utils::try_decompress_lrs(BufferView(data).bytes());
        if (!out) raise(bw::io_failure(out.error()));
        return to_bytes(*out);
      },
      py::arg("data"), "Decodes an LRS payload (a length prefix, then the token stream).");

  // The package brackwater_dat offers all of it as its own: pickle finds a
  // class, and repr names it, where a user imports it from.
  for (const auto& [name, value] : m.attr("__dict__").cast<py::dict>()) {
    if (py::isinstance<py::type>(value) && py::hasattr(value, "__module__") &&
        value.attr("__module__").cast<std::string>() == m.attr("__name__").cast<std::string>()) {
      value.attr("__module__") = "brackwater_dat";
    }
  }
}
