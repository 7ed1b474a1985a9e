#include "support/temp_dir.hpp"

#include <stdlib.h>

#include <string>
#include <system_error>

namespace brackwater_dat::test_support {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "brackwater-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::system_error(errno, std::generic_category(), "mkdtemp");
  }
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace brackwater_dat::test_support
