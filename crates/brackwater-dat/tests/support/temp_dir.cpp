#include "support/temp_dir.hpp"

#include <random>
#include <string>
#include <system_error>

namespace brackwater_dat::test_support {

TempDir::TempDir() {
  const auto base = std::filesystem::temp_directory_path();
  std::random_device seed;
  std::mt19937_64 names(seed());
  for (;;) {
    path_ = base / ("brackwater-" + std::to_string(names() % 1'000'000'000));
    // Made only when new, so no other run's folder is taken.
    if (std::filesystem::create_directory(path_)) return;
  }
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace brackwater_dat::test_support
