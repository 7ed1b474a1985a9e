// Windows error codes as IoErrors: the library's platform seam on Windows,
// with file_source_windows.cpp.
#include "windows_error.hpp"

#include <string>

#include "brackwater_dat/error.hpp"
#include "unicode.hpp"

namespace brackwater_dat {
namespace {

IoErrorKind kind_of_code(unsigned long code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return IoErrorKind::NotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_PRIVILEGE_NOT_HELD:
      return IoErrorKind::PermissionDenied;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return IoErrorKind::OutOfMemory;
    case ERROR_OPERATION_ABORTED:
      return IoErrorKind::Interrupted;
    case ERROR_DIRECTORY_NOT_SUPPORTED:
      return IoErrorKind::IsADirectory;
    default:
      return IoErrorKind::Other;
  }
}

// The system's message for `code`, in UTF-8, without the line break it ends in.
std::string system_message(unsigned long code) {
  wchar_t buffer[512];
  const DWORD length =
      ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                       buffer, static_cast<DWORD>(std::size(buffer)), nullptr);
  std::wstring_view text(buffer, length);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) {
    text.remove_suffix(1);
  }
  if (text.empty()) return "unknown error";
  return unicode::utf8_from_utf16(text);
}

}  // namespace

IoError IoError::from_windows(unsigned long code) {
  return IoError(kind_of_code(code), system_message(code), static_cast<int>(code));
}

}  // namespace brackwater_dat
