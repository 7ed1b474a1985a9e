#include "resolve_sound_parity/environment.hpp"

#include <sys/stat.h>

#include <cstdlib>

#include "resolve_sound_parity/unicode.hpp"

namespace brackwater_dat::parity {

std::optional<std::string> environment_text(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || !unicode::is_valid(value)) return std::nullopt;
  return std::string(value);
}

bool path_exists(const std::filesystem::path& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0;
}

}  // namespace brackwater_dat::parity
