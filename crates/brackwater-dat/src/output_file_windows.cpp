#include <atomic>
#include <string>

#include "errors.hpp"
#include "output_file.hpp"
#include "windows_error.hpp"

namespace brackwater_dat {
namespace {

// WriteFile and ReadFile count in 32 bits.
constexpr std::size_t kLargestTransfer = std::size_t{1} << 30;

HANDLE native(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

std::unexpected<DatError> last_error() { return io_error(IoError::from_windows(::GetLastError())); }

}  // namespace

Result<OutputFile> OutputFile::create_beside(const std::filesystem::path& destination) {
  static std::atomic<unsigned> serial{0};
  // A name no other writer uses: this process and a count, retried past
  // leftovers of others.
  for (int attempt = 0; attempt < 1000; ++attempt) {
    std::filesystem::path name = destination;
    name += L"." + std::to_wstring(::GetCurrentProcessId()) + L"-" +
            std::to_wstring(serial.fetch_add(1)) + L".tmp";
    const HANDLE handle = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      return OutputFile(reinterpret_cast<std::intptr_t>(handle), std::move(name));
    }
    if (::GetLastError() != ERROR_FILE_EXISTS) break;
  }
  return std::unexpected(
      DatError{DatError::PathError{destination, IoError::from_windows(::GetLastError())}});
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : handle_(other.handle_), path_(std::move(other.path_)) {
  other.handle_ = -1;
  other.path_.clear();
}

OutputFile::~OutputFile() {
  close();
  if (!path_.empty()) ::DeleteFileW(path_.c_str());
}

void OutputFile::close() noexcept {
  if (handle_ != -1) ::CloseHandle(native(handle_));
  handle_ = -1;
}

Result<void> OutputFile::append(ByteView bytes) {
  while (!bytes.empty()) {
    const auto count = static_cast<DWORD>(std::min(bytes.size(), kLargestTransfer));
    DWORD wrote = 0;
    if (!::WriteFile(native(handle_), bytes.data(), count, &wrote, nullptr)) return last_error();
    bytes = bytes.subspan(wrote);
  }
  return {};
}

Result<void> OutputFile::read_at(std::uint64_t offset, std::span<std::uint8_t> out) const {
  while (!out.empty()) {
    OVERLAPPED overlapped{};
    overlapped.Offset = static_cast<DWORD>(offset);
    overlapped.OffsetHigh = static_cast<DWORD>(offset >> 32);
    const auto count = static_cast<DWORD>(std::min(out.size(), kLargestTransfer));
    DWORD got = 0;
    if (!::ReadFile(native(handle_), out.data(), count, &got, &overlapped)) {
      if (::GetLastError() != ERROR_HANDLE_EOF) return last_error();
    }
    if (got == 0) return io_error(unexpected_eof());
    out = out.subspan(got);
    offset += got;
  }
  return {};
}

Result<void> OutputFile::publish(const std::filesystem::path& destination, bool replace) {
  if (!::FlushFileBuffers(native(handle_))) return last_error();
  // Windows renames only closed files.
  close();
  if (!::MoveFileExW(path_.c_str(), destination.c_str(),
                     MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0))) {
    return std::unexpected(
        DatError{DatError::PathError{destination, IoError::from_windows(::GetLastError())}});
  }
  path_.clear();
  return {};
}

bool path_exists(const std::filesystem::path& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace brackwater_dat
