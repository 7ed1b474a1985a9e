#include <windows.h>

#include <algorithm>
#include <system_error>
#include <utility>

#include "folder.hpp"

namespace brackwater_dat::cli {
namespace {

IoError last_error() { return IoError::from_windows(::GetLastError()); }

FolderError failure(FolderError::Kind kind) { return FolderError{kind, last_error()}; }

// WriteFile counts in 32 bits.
constexpr std::size_t kLargestWrite = std::size_t{1} << 30;

// A folder held open without delete sharing, so that it cannot be renamed,
// removed or replaced by a link while the handle lives. `follow`: whether a
// reparse point at `path` itself is followed.
HANDLE open_folder(const std::filesystem::path& path, bool follow) {
  return ::CreateFileW(
      path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr);
}

DWORD attributes_of(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (!::GetFileInformationByHandle(handle, &information)) return INVALID_FILE_ATTRIBUTES;
  return information.dwFileAttributes;
}

// The path of an open folder with every link on the way resolved, so that
// names taken under it later lead where the handle holds.
std::expected<std::filesystem::path, IoError> final_path(HANDLE handle) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        ::GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()), 0);
    if (length == 0) return std::unexpected(last_error());
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(length);
  }
}

bool taken_error(DWORD error) {
  return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

}  // namespace

const std::string_view kLinkName = "a reparse point (a symbolic link or a junction)";

NewFile::NewFile(NewFile&& other) noexcept : handle_(std::exchange(other.handle_, -1)) {}

NewFile::~NewFile() { (void)close(); }

std::expected<void, IoError> NewFile::write(std::string_view data) {
  DWORD written = 0;
  for (; !data.empty(); data.remove_prefix(written)) {
    const auto count = static_cast<DWORD>(std::min(data.size(), kLargestWrite));
    if (!::WriteFile(reinterpret_cast<HANDLE>(handle_), data.data(), count, &written, nullptr)) {
      return std::unexpected(last_error());
    }
  }
  return {};
}

std::expected<void, IoError> NewFile::close() {
  if (handle_ == -1) return {};
  if (!::CloseHandle(reinterpret_cast<HANDLE>(std::exchange(handle_, -1)))) {
    return std::unexpected(last_error());
  }
  return {};
}

std::expected<void, IoError> Folder::make(const std::filesystem::path& path) {
  std::error_code error;
  std::filesystem::create_directories(path, error);
  if (!error) return {};
  // The C runtime's errors come as errno values, the system's as its own codes.
  if (error.category() == std::system_category()) {
    return std::unexpected(IoError::from_windows(static_cast<unsigned long>(error.value())));
  }
  return std::unexpected(IoError::from_os(error.value()));
}

std::expected<Folder, IoError> Folder::open(const std::filesystem::path& path) {
  const HANDLE handle = open_folder(path, true);
  if (handle == INVALID_HANDLE_VALUE) return std::unexpected(last_error());
  Folder folder(reinterpret_cast<std::intptr_t>(handle), {});
  if (!(attributes_of(handle) & FILE_ATTRIBUTE_DIRECTORY)) {
    return std::unexpected(IoError::from_windows(ERROR_DIRECTORY));
  }
  auto resolved = final_path(handle);
  if (!resolved) return std::unexpected(std::move(resolved.error()));
  folder.path_ = std::move(*resolved);
  return folder;
}

Folder::Folder(Folder&& other) noexcept
    : handle_(std::exchange(other.handle_, -1)), path_(std::move(other.path_)) {}

Folder::~Folder() {
  if (handle_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

std::expected<Folder, FolderError> Folder::subfolder(const std::string& name) const {
  const std::filesystem::path child = path_ / name;
  if (!::CreateDirectoryW(child.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
    return std::unexpected(failure(FolderError::Kind::Other));
  }
  const HANDLE handle = open_folder(child, false);
  if (handle == INVALID_HANDLE_VALUE) return std::unexpected(failure(FolderError::Kind::Other));
  Folder folder(reinterpret_cast<std::intptr_t>(handle), child);
  const DWORD attributes = attributes_of(handle);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return std::unexpected(failure(FolderError::Kind::Other));
  }
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    return std::unexpected(
        FolderError{FolderError::Kind::Link, IoError::from_windows(ERROR_CANT_ACCESS_FILE)});
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return std::unexpected(
        FolderError{FolderError::Kind::Other, IoError::from_windows(ERROR_DIRECTORY)});
  }
  return folder;
}

bool Folder::has(const std::string& name) const {
  if (::GetFileAttributesW((path_ / name).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  const DWORD error = ::GetLastError();
  return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

std::expected<NewFile, FolderError> Folder::create(const std::string& name) const {
  const HANDLE handle =
      ::CreateFileW((path_ / name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle != INVALID_HANDLE_VALUE) return NewFile(reinterpret_cast<std::intptr_t>(handle));
  return std::unexpected(failure(taken_error(::GetLastError()) ? FolderError::Kind::Exists
                                                               : FolderError::Kind::Other));
}

void Folder::remove(const std::string& name) const { ::DeleteFileW((path_ / name).c_str()); }

std::expected<void, FolderError> Folder::rename(const std::string& from, const std::string& to,
                                                bool replace) const {
  const std::filesystem::path target = path_ / to;
  if (replace) {
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      return std::unexpected(
          FolderError{FolderError::Kind::Link, IoError::from_windows(ERROR_CANT_ACCESS_FILE)});
    }
  }
  if (::MoveFileExW((path_ / from).c_str(), target.c_str(),
                    replace ? MOVEFILE_REPLACE_EXISTING : 0)) {
    return {};
  }
  return std::unexpected(failure(taken_error(::GetLastError()) ? FolderError::Kind::Exists
                                                               : FolderError::Kind::Other));
}

}  // namespace brackwater_dat::cli
