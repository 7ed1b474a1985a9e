#include <algorithm>

#include "errors.hpp"
#include "file_source.hpp"
#include "windows_error.hpp"

namespace brackwater_dat {
namespace {

IoError last_error() { return IoError::from_windows(::GetLastError()); }

// ReadFile counts in 32 bits; a larger read is a short one.
constexpr std::size_t kLargestRead = std::size_t{1} << 30;

// Each thread waits for its own reads on an event of its own: the file's
// handle is signalled by any read that completes, not only this one.
HANDLE read_event() {
  struct Event {
    HANDLE handle = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ~Event() {
      if (handle != nullptr) ::CloseHandle(handle);
    }
  };
  thread_local const Event event;
  return event.handle;
}

// Opened for overlapped I/O, so that reads of many threads proceed at once
// rather than in turn, as a synchronous handle's would. Owns the handle and
// closes it when destroyed.
class FileSource final : public Source {
 public:
  explicit FileSource(HANDLE handle) noexcept : handle_(handle) {}
  ~FileSource() override { ::CloseHandle(handle_); }
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  std::expected<std::size_t, IoError> read_at(std::uint64_t offset,
                                              std::span<std::uint8_t> buffer) const override {
    const HANDLE event = read_event();
    if (event == nullptr) return std::unexpected(last_error());
    OVERLAPPED overlapped{};
    overlapped.Offset = static_cast<DWORD>(offset);
    overlapped.OffsetHigh = static_cast<DWORD>(offset >> 32);
    overlapped.hEvent = event;
    const auto count = static_cast<DWORD>(std::min(buffer.size(), kLargestRead));
    DWORD got = 0;
    if ((::ReadFile(handle_, buffer.data(), count, nullptr, &overlapped) ||
         ::GetLastError() == ERROR_IO_PENDING) &&
        ::GetOverlappedResult(handle_, &overlapped, &got, TRUE)) {
      return got;
    }
    if (::GetLastError() == ERROR_HANDLE_EOF) return 0;
    return std::unexpected(last_error());
  }

  std::expected<std::uint64_t, IoError> length() const override {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(handle_, &size)) return std::unexpected(last_error());
    return static_cast<std::uint64_t>(size.QuadPart);
  }

 private:
  HANDLE handle_;
};

}  // namespace

// The handle's type says whether it can be positioned.
Result<std::unique_ptr<Source>> open_file_source(const std::filesystem::path& path) {
  auto path_error = [&](IoError source) {
    return std::unexpected(DatError{DatError::PathError{path, std::move(source)}});
  };
  // Every sharing mode: an archive that the game or another tool has open,
  // even for writing, still opens. Backup semantics let a directory open, to
  // be named as one below.
  const HANDLE handle = ::CreateFileW(
      path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_OVERLAPPED | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return path_error(last_error());
  auto source = std::make_unique<FileSource>(handle);

  // A pipe, a console or another character device cannot be positioned.
  if (::GetFileType(handle) != FILE_TYPE_DISK) {
    return path_error(IoError::from_windows(ERROR_SEEK_ON_DEVICE));
  }
  BY_HANDLE_FILE_INFORMATION information{};
  if (!::GetFileInformationByHandle(handle, &information)) return path_error(last_error());
  if (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    return path_error(IoError::from_windows(ERROR_DIRECTORY_NOT_SUPPORTED));
  }
  return std::unique_ptr<Source>(std::move(source));
}

}  // namespace brackwater_dat
