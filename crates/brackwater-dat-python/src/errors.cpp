#include "errors.hpp"

#include <pybind11/eval.h>

#include <array>
#include <string>
#include <string_view>

namespace py = pybind11;

namespace brackwater_dat::python {
namespace {

// The hierarchy is ordinary Python: a KeyError and an OSError subclass keep
// their own behaviour (catching, errno, filename) and take str() from DatError.
constexpr const char* kHierarchy = R"(
class DatError(Exception):
    """A failure of the archive reader. str() is one line for people;
    debug_text is the library's full form; code the library's name of its
    kind ("NotFound", "Io", "Corruption", ...)."""

    def __init__(self, message, debug_text, code="Other"):
        Exception.__init__(self, message, debug_text, code)
        self.debug_text = debug_text
        self.code = code

    def __str__(self):
        return self.args[0]


class NotFoundError(DatError, KeyError):
    """The file id is not in the archive's directory."""


class ReadError(DatError):
    """The archive could not be read: it ends early, or its source failed."""


class ParseError(DatError):
    """A record (the header, a sound table) ended inside a field."""


class CorruptionError(DatError):
    """What the archive holds is not what it says: a directory that is not a
    search tree, a stream shorter than it declares, an id stored twice."""


class PathError(DatError, OSError):
    """The archive file could not be opened."""

    def __init__(self, message, debug_text, errno, filename, strerror, code="PathError"):
        DatError.__init__(self, message, debug_text, code)
        self.errno = errno
        self.strerror = strerror
        self.filename = filename

    def __str__(self):
        return self.args[0]

    # OSError would pickle its errno, strerror and filename as the arguments,
    # which this __init__ does not take: a process pool could not hand the
    # error back to its caller.
    def __reduce__(self):
        return (type(self), (self.args[0], self.debug_text, self.errno, self.filename,
                             self.strerror, self.code), self.__dict__)
)";

// The class each of the library's error codes raises, in the codes' order.
constexpr std::array<const char*, kErrorCodes> kClassOfCode = {
    "ReadError",       "ParseError",      "NotFoundError",   "CorruptionError",
    "CorruptionError", "CorruptionError", "CorruptionError", "CorruptionError",
    "CorruptionError", "CorruptionError", "PathError",       "DatError"};
constexpr std::array<const char*, 6> kClasses = {"DatError",   "NotFoundError",   "ReadError",
                                                 "ParseError", "CorruptionError", "PathError"};

// The classes made at module init, kept (never released, as the module
// itself is) so that raising needs no import.
py::handle& module_error(std::string_view name) {
  static std::array<py::handle, kClasses.size()> made;
  for (std::size_t i = 0; i < kClasses.size(); ++i) {
    if (name == kClasses[i]) return made[i];
  }
  return made[0];
}

// Text for an exception: a path in it need not be UTF-8, and shows as \xNN
// where it is not rather than failing.
py::str text(std::string_view bytes) {
  PyObject* decoded =
      PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), "backslashreplace");
  if (decoded == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(decoded);
}

[[noreturn]] void raise_object(const py::object& type, const py::object& instance) {
  PyErr_SetObject(type.ptr(), instance.ptr());
  throw py::error_already_set();
}

}  // namespace

void define_errors(py::module_& m) {
  py::exec(kHierarchy, m.attr("__dict__"));
  for (const char* name : kClasses) module_error(name) = py::object(m.attr(name)).release();
}

void raise(const DatError& error, const py::object& path_as_given) {
  const py::str display = text(display_text(error));
  const py::str debug = text(debug_text(error));
  const ErrorCode code = error_code(error);
  const auto type = py::reinterpret_borrow<py::object>(
      module_error(kClassOfCode[static_cast<std::size_t>(code)]));
  if (const auto* path = std::get_if<DatError::PathError>(&error.value)) {
    const py::object os_code =
        path->source.os_code() ? py::object(py::int_(*path->source.os_code())) : py::none();
    const py::object filename =
        path_as_given ? py::module_::import("os").attr("fspath")(path_as_given)
                      : py::module_::import("os").attr("fsdecode")(py::bytes(path->path.native()));
    raise_object(type, type(display, debug, os_code, filename, text(path->source.message())));
  }
  raise_object(type, type(display, debug, error_code_name(code)));
}

void raise_parse(const ParseError& error) {
  const auto type = py::reinterpret_borrow<py::object>(module_error("ParseError"));
  raise_object(type, type(text(display_text(error)), text(debug_text(error)),
                          error_code_name(ErrorCode::bin_read)));
}

std::int32_t to_i32(const py::object& value, std::string_view what) {
  if (!PyLong_Check(value.ptr())) {
    throw py::type_error(std::string(what) + " must be an int, not " +
                         std::string(py::str(value.get_type().attr("__name__"))));
  }
  int overflow = 0;
  const long long number = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
  if (overflow == 0 && number >= INT32_MIN && number <= INT32_MAX) {
    return static_cast<std::int32_t>(number);
  }
  const std::string message =
      std::string(what) + " must be a signed 32-bit int, not " + std::string(py::str(value));
  PyErr_SetString(PyExc_OverflowError, message.c_str());
  throw py::error_already_set();
}

std::optional<std::uint32_t> id_if_in_range(const py::object& value) {
  if (!PyLong_Check(value.ptr())) return std::nullopt;
  int overflow = 0;
  const long long number = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
  if (overflow != 0 || number < 0 || number > 0xFFFFFFFFLL) return std::nullopt;
  return static_cast<std::uint32_t>(number);
}

std::uint32_t to_u32(const py::object& value, std::string_view what) {
  if (!PyLong_Check(value.ptr())) {
    throw py::type_error(std::string(what) + " must be an int, not " +
                         std::string(py::str(value.get_type().attr("__name__"))));
  }
  if (const auto number = id_if_in_range(value)) return *number;
  const std::string message =
      std::string(what) + " must be in 0..0xFFFFFFFF, not " + std::string(py::str(value));
  PyErr_SetString(PyExc_OverflowError, message.c_str());
  throw py::error_already_set();
}

}  // namespace brackwater_dat::python
