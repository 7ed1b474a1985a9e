#include "brackwater_dat/error.hpp"

#include <cerrno>
#include <cstdio>
#include <system_error>

#include "errors.hpp"
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

// The C library's message for `code`, portably and thread-safely.
std::string system_message(int code) { return std::generic_category().message(code); }

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

namespace {

// The message, with the system's error code when it has one.
std::string plain_text(const IoError& error) {
  if (error.os_code()) {
    return error.message() + " (os error " + std::to_string(*error.os_code()) + ")";
  }
  return error.message();
}

}  // namespace

std::string display_text(const IoError& error) {
  std::string text = plain_text(error);
  if (const auto& fell_short = error.short_read()) {
    char offset[24];
    std::snprintf(offset, sizeof offset, "0x%08llX",
                  static_cast<unsigned long long>(fell_short->offset));
    text += " at offset " + std::string(offset) +
            (fell_short->offset >= fell_short->length ? ", past the end of the archive's "
                                                      : ", within the archive's ") +
            std::to_string(fell_short->length) + " bytes";
  }
  return text;
}

std::string debug_text(const ParseError& error) {
  if (error.frames().empty()) return error.cause().message();
  std::string text = plain_text(error.cause());
  for (const auto& frame : error.frames()) {
    text += "\n " + frame.message + " at " + frame.file + ":" + std::to_string(frame.line);
  }
  return text;
}

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
            return "PathError { path: " + debug_text(unicode::path_text(e.path)) +
                   ", source: " + debug_text(e.source) + " }";
          },
          [](const DatError::Other& e) { return wrapped("Other", debug_text(e.text)); },
      },
      error.value);
}

std::string debug_text(std::string_view text) { return unicode::quoted(text); }

namespace {

// A text inside a one-line message: line breaks and other controls as escapes.
std::string one_line(std::string_view text) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (byte < 0x20 || byte == 0x7F) {
      out += "\\x";
      out += kDigits[byte >> 4];
      out += kDigits[byte & 0xF];
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::string display_text(const ParseError& error) {
  std::string text = one_line(display_text(error.cause()));
  for (const auto& frame : error.frames()) {
    // "While parsing field 'x' in R" reads on as "while parsing ...".
    std::string context = frame.message;
    if (!context.empty() && context[0] >= 'A' && context[0] <= 'Z') context[0] += 32;
    text += " " + one_line(context);
  }
  return text;
}

std::string display_text(const DatError& error) {
  return std::visit(
      Overloaded{
          [](const DatError::Io& e) { return "read failed: " + one_line(display_text(e.error)); },
          [](const DatError::BinRead& e) { return display_text(e.error); },
          [](const DatError::NotFound& e) { return "no file " + hex_id(e.id) + " in the archive"; },
          [](const DatError::DuplicateId& e) { return "duplicate file id " + hex_id(e.id); },
          [](const DatError::DuplicateNamespacedId& e) {
            return "duplicate file id " + hex_id(e.file_id) + " in namespace " +
                   debug_text(e.namespace_);
          },
          [](const DatError::InvalidMagic& e) { return "invalid magic: " + one_line(e.text); },
          [](const DatError::UnsupportedVersion& e) {
            return "unsupported version " + std::to_string(e.version);
          },
          [](const DatError::InvalidNamespace& e) {
            return "invalid namespace: " + one_line(e.text);
          },
          [](const DatError::Corruption& e) { return "corrupt archive: " + one_line(e.text); },
          [](const DatError::DecompressionFailed& e) {
            return "decompression failed: " + std::to_string(e.value);
          },
          [](const DatError::PathError& e) {
            return "cannot open " + one_line(unicode::path_text(e.path)) + ": " +
                   one_line(display_text(e.source));
          },
          [](const DatError::Other& e) { return one_line(e.text); },
      },
      error.value);
}

IoError IoError::unexpected_end(std::uint64_t offset, std::uint64_t length) {
  return unexpected_eof().with_short_read(offset, length);
}

#ifndef _WIN32
// No message of this system names another system's codes.
IoError IoError::from_windows(unsigned long code) {
  return IoError(IoErrorKind::Other, "Windows error " + std::to_string(code),
                 static_cast<int>(code));
}
#endif

IoError IoError::with_short_read(std::uint64_t offset, std::uint64_t length) const {
  IoError error = *this;
  error.short_read_ = ShortRead{offset, length};
  return error;
}

IoError IoError::out_of_memory(std::size_t bytes) {
  return simple(IoErrorKind::OutOfMemory, "cannot allocate " + std::to_string(bytes) + " bytes");
}

static_assert(std::variant_size_v<decltype(DatError::value)> == kErrorCodes,
              "one code for each variant");

ErrorCode error_code(const DatError& error) noexcept {
  return static_cast<ErrorCode>(error.value.index());
}

const char* error_code_name(ErrorCode code) noexcept {
  static constexpr const char* kNames[kErrorCodes] = {"Io",
                                                      "BinRead",
                                                      "NotFound",
                                                      "DuplicateId",
                                                      "DuplicateNamespacedId",
                                                      "InvalidMagic",
                                                      "UnsupportedVersion",
                                                      "InvalidNamespace",
                                                      "Corruption",
                                                      "DecompressionFailed",
                                                      "PathError",
                                                      "Other"};
  return kNames[static_cast<std::size_t>(code)];
}

DatError io_failure(IoError error) { return DatError{DatError::Io{std::move(error)}}; }

}  // namespace brackwater_dat
