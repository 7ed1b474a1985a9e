#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <algorithm>

#include "process.hpp"

namespace brackwater_dat::cli {
namespace {

HANDLE handle_of(Stream stream) {
  return ::GetStdHandle(stream == Stream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

std::string utf8(std::wstring_view text) {
  std::string out(text.size() * 3, '\0');
  const int length =
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(),
                            static_cast<int>(out.size()), nullptr, nullptr);
  out.resize(static_cast<std::size_t>(std::max(length, 0)));
  return out;
}

std::wstring wide(std::string_view text) {
  std::wstring out(text.size(), L'\0');
  const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           out.data(), static_cast<int>(out.size()));
  out.resize(static_cast<std::size_t>(std::max(length, 0)));
  return out;
}

// WriteFile and WriteConsoleW count in 32 bits.
constexpr std::size_t kLargestWrite = std::size_t{1} << 30;

}  // namespace

std::vector<std::string> start_process(int, char**) {
  // Binary too for what writes through the C runtime (help, version), so
  // that its lines end in \n as everything else's do.
  ::_setmode(_fileno(stdout), _O_BINARY);
  ::_setmode(_fileno(stderr), _O_BINARY);
  int count = 0;
  wchar_t** const words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(utf8(words[i]));
  ::LocalFree(words);
  return arguments;
}

bool is_terminal(Stream stream) {
  DWORD mode = 0;
  return ::GetConsoleMode(handle_of(stream), &mode) != 0;
}

std::expected<void, IoError> write_all(Stream stream, std::string_view data) {
  const HANDLE handle = handle_of(stream);
  if (is_terminal(stream)) {
    const std::wstring text = wide(data);
    DWORD written = 0;
    for (std::wstring_view left = text; !left.empty(); left.remove_prefix(written)) {
      const auto count = static_cast<DWORD>(std::min(left.size(), kLargestWrite));
      if (!::WriteConsoleW(handle, left.data(), count, &written, nullptr)) {
        return std::unexpected(IoError::from_windows(::GetLastError()));
      }
    }
    return {};
  }
  DWORD written = 0;
  for (; !data.empty(); data.remove_prefix(written)) {
    const auto count = static_cast<DWORD>(std::min(data.size(), kLargestWrite));
    if (!::WriteFile(handle, data.data(), count, &written, nullptr)) {
      return std::unexpected(IoError::from_windows(::GetLastError()));
    }
  }
  return {};
}

bool reader_gone(const IoError& error) {
  return error.os_code() == ERROR_NO_DATA || error.os_code() == ERROR_BROKEN_PIPE;
}

void end_for_closed_pipe() { ::ExitProcess(141); }

unsigned long process_id() { return ::GetCurrentProcessId(); }

std::filesystem::path path_of(const std::string& text) { return wide(text); }

}  // namespace brackwater_dat::cli
