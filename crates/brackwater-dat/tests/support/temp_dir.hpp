#pragma once

#include <filesystem>

namespace brackwater_dat::test_support {

// A fresh directory under the system's temporary directory, removed with
// everything in it when this goes out of scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const noexcept { return path_; }
  std::filesystem::path operator/(const std::filesystem::path& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

}  // namespace brackwater_dat::test_support
