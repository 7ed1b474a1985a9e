#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace brackwater_dat {

enum class IoErrorKind {
  NotFound,
  PermissionDenied,
  UnexpectedEof,
  Interrupted,
  WriteZero,
  IsADirectory,
  InvalidData,
  OutOfMemory,
  Other
};

// An I/O failure: its kind, a message, and the system error code when the
// operating system reported it.
class IoError {
 public:
  static IoError from_os(int errno_value);
  // A Windows error code, as GetLastError() gives it, with the system's
  // message for it: its texts have the same shape as an errno's. Elsewhere
  // the message only names the code.
  static IoError from_windows(unsigned long code);
  static IoError simple(IoErrorKind kind, std::string message);
  // An allocation of `bytes` that could not be had: kind OutOfMemory.
  static IoError out_of_memory(std::size_t bytes);
  // A read that found no more bytes at `offset` of an archive of `length`
  // bytes: kind UnexpectedEof, "failed to fill whole buffer", and where.
  static IoError unexpected_end(std::uint64_t offset, std::uint64_t length);

  // The same error, saying where the read fell short: the offset of the first
  // byte missing and the archive's length.
  IoError with_short_read(std::uint64_t offset, std::uint64_t length) const;

  IoErrorKind kind() const noexcept { return kind_; }
  const std::string& message() const noexcept { return message_; }
  std::optional<int> os_code() const noexcept { return os_code_; }

  // Where a read fell short, when it is known: the offset of the first byte
  // missing and the archive's length. Display texts say it; debug texts,
  // which name only the kind and message, do not.
  struct ShortRead {
    std::uint64_t offset;
    std::uint64_t length;
  };
  const std::optional<ShortRead>& short_read() const noexcept { return short_read_; }

 private:
  IoError(IoErrorKind kind, std::string message, std::optional<int> os_code)
      : kind_(kind), message_(std::move(message)), os_code_(os_code) {}

  IoErrorKind kind_;
  std::string message_;
  std::optional<int> os_code_;
  std::optional<ShortRead> short_read_;
};

// Where a fixed-layout record was being read when it failed, for example
// "While parsing field 'block_size' in DatHeader".
struct ParseFrame {
  std::string message;
  std::string file;
  std::uint32_t line;
};

// The failure to read a fixed-layout record: the I/O error underneath and the
// context it was met in, innermost frame first.
class ParseError {
 public:
  explicit ParseError(IoError cause, std::vector<ParseFrame> frames = {})
      : cause_(std::move(cause)), frames_(std::move(frames)) {}

  const IoError& cause() const noexcept { return cause_; }
  const std::vector<ParseFrame>& frames() const noexcept { return frames_; }

 private:
  IoError cause_;
  std::vector<ParseFrame> frames_;
};

// The one error type of the archive reader.
struct DatError {
  struct Io {
    IoError error;
  };
  struct BinRead {
    ParseError error;
  };
  struct NotFound {
    std::uint32_t id;
  };
  struct DuplicateId {
    std::uint32_t id;
  };
  struct DuplicateNamespacedId {
    std::string namespace_;
    std::uint32_t file_id;
  };
  struct InvalidMagic {
    std::string text;
  };
  struct UnsupportedVersion {
    std::uint32_t version;
  };
  struct InvalidNamespace {
    std::string text;
  };
  struct Corruption {
    std::string text;
  };
  struct DecompressionFailed {
    std::uint32_t value;
  };
  struct PathError {
    std::filesystem::path path;
    IoError source;
  };
  struct Other {
    std::string text;
  };

  std::variant<Io, BinRead, NotFound, DuplicateId, DuplicateNamespacedId, InvalidMagic,
               UnsupportedVersion, InvalidNamespace, Corruption, DecompressionFailed, PathError,
               Other>
      value;
};

template <class T>
using Result = std::expected<T, DatError>;

// Each kind of failure as a stable code, one per variant of DatError and in
// its order, for surfaces that map failures mechanically: the tool's exit
// statuses, Python's exception classes, JavaScript's DatError.code.
enum class ErrorCode {
  io,
  bin_read,
  not_found,
  duplicate_id,
  duplicate_namespaced_id,
  invalid_magic,
  unsupported_version,
  invalid_namespace,
  corruption,
  decompression_failed,
  path_error,
  other,
};
inline constexpr std::size_t kErrorCodes = 12;

ErrorCode error_code(const DatError& error) noexcept;
// The code's name as debug texts name the variant: "Io", "NotFound", ...
const char* error_code_name(ErrorCode code) noexcept;

// An I/O failure as the reader's operations report it: DatError::Io.
DatError io_failure(IoError error);

// Debug texts name the variant and its payload, for example NotFound(536871080)
// or Os { code: 2, kind: NotFound, message: "No such file or directory" }; a
// parse error's lists its frames with their source locations, a line each.
// Display texts are the plain message, with " (os error N)" for system errors
// and where a read fell short when that is known; a parse error's is one
// line, its frames read on as "... while parsing field 'x' in R", without
// source locations.
std::string debug_text(const IoError& error);
std::string display_text(const IoError& error);
std::string debug_text(const ParseError& error);
std::string display_text(const ParseError& error);
std::string debug_text(const DatError& error);

// One line for people, for example "no file 0x200000A8 in the archive" or
// "cannot open a.dat: No such file or directory (os error 2)": ids as 0x and
// eight upper-case hex digits, no source locations, no line breaks.
std::string display_text(const DatError& error);

// A text in double quotes, with quotes, backslashes and non-printable
// characters escaped; bytes that are not UTF-8 show as \xNN.
std::string debug_text(std::string_view text);

}  // namespace brackwater_dat
