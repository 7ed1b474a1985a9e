#include "brackwater_dat/error.hpp"

#include <cerrno>
#include <cstring>

#include "unicode.hpp"

namespace brackwater_dat {
namespace {

IoErrorKind kind_of_errno(int code) {
  switch (code) {
    case ENOENT:
      return IoErrorKind::NotFound;
    case EACCES:
    case EPERM:
      return IoErrorKind::PermissionDenied;
    case EINTR:
      return IoErrorKind::Interrupted;
    case EISDIR:
      return IoErrorKind::IsADirectory;
    case ENOMEM:
      return IoErrorKind::OutOfMemory;
    default:
      return IoErrorKind::Other;
  }
}

std::string_view kind_name(IoErrorKind kind) {
  switch (kind) {
    case IoErrorKind::NotFound:
      return "NotFound";
    case IoErrorKind::PermissionDenied:
      return "PermissionDenied";
    case IoErrorKind::UnexpectedEof:
      return "UnexpectedEof";
    case IoErrorKind::Interrupted:
      return "Interrupted";
    case IoErrorKind::WriteZero:
      return "WriteZero";
    case IoErrorKind::IsADirectory:
      return "IsADirectory";
    case IoErrorKind::InvalidData:
      return "InvalidData";
    case IoErrorKind::OutOfMemory:
      return "OutOfMemory";
    case IoErrorKind::Other:
      return "Other";
  }
  return "Other";
}

std::string system_message(int code) {
  char buffer[256];
  // The GNU strerror_r returns the message, which need not be in `buffer`.
  return ::strerror_r(code, buffer, sizeof buffer);
}

template <class... Handlers>
struct Overloaded : Handlers... {
  using Handlers::operator()...;
};

std::string wrapped(std::string_view name, const std::string& payload) {
  return std::string(name) + "(" + payload + ")";
}

}  // namespace

IoError IoError::from_os(int errno_value) {
  return IoError(kind_of_errno(errno_value), system_message(errno_value), errno_value);
}

IoError IoError::simple(IoErrorKind kind, std::string message) {
  return IoError(kind, std::move(message), std::nullopt);
}

std::string debug_text(const IoError& error) {
  if (error.os_code()) {
    return "Os { code: " + std::to_string(*error.os_code()) +
           ", kind: " + std::string(kind_name(error.kind())) +
           ", message: " + debug_text(error.message()) + " }";
  }
  return "Error { kind: " + std::string(kind_name(error.kind())) +
         ", message: " + debug_text(error.message()) + " }";
}

std::string display_text(const IoError& error) {
  if (error.os_code()) {
    return error.message() + " (os error " + std::to_string(*error.os_code()) + ")";
  }
  return error.message();
}

std::string display_text(const ParseError& error) {
  if (error.frames().empty()) return error.cause().message();
  std::string text = display_text(error.cause());
  for (const auto& frame : error.frames()) {
    text += "\n " + frame.message + " at " + frame.file + ":" + std::to_string(frame.line);
  }
  return text;
}

std::string debug_text(const ParseError& error) { return display_text(error); }

std::string debug_text(const DatError& error) {
  return std::visit(
      Overloaded{
          [](const DatError::Io& e) { return wrapped("Io", debug_text(e.error)); },
          [](const DatError::BinRead& e) { return wrapped("BinRead", debug_text(e.error)); },
          [](const DatError::NotFound& e) { return wrapped("NotFound", std::to_string(e.id)); },
          [](const DatError::DuplicateId& e) {
            return wrapped("DuplicateId", std::to_string(e.id));
          },
          [](const DatError::DuplicateNamespacedId& e) {
            return "DuplicateNamespacedId { namespace: " + debug_text(e.namespace_) +
                   ", file_id: " + std::to_string(e.file_id) + " }";
          },
          [](const DatError::InvalidMagic& e) {
            return wrapped("InvalidMagic", debug_text(e.text));
          },
          [](const DatError::UnsupportedVersion& e) {
            return wrapped("UnsupportedVersion", std::to_string(e.version));
          },
          [](const DatError::InvalidNamespace& e) {
            return wrapped("InvalidNamespace", debug_text(e.text));
          },
          [](const DatError::Corruption& e) { return wrapped("Corruption", debug_text(e.text)); },
          [](const DatError::DecompressionFailed& e) {
            return wrapped("DecompressionFailed", std::to_string(e.value));
          },
          [](const DatError::PathError& e) {
            return "PathError { path: " + debug_text(std::string_view(e.path.native())) +
                   ", source: " + debug_text(e.source) + " }";
          },
          [](const DatError::Other& e) { return wrapped("Other", debug_text(e.text)); },
      },
      error.value);
}

std::string debug_text(std::string_view text) { return unicode::quoted(text); }

}  // namespace brackwater_dat
