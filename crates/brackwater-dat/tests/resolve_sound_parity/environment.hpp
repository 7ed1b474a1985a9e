#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace brackwater_dat::parity {

// The variable's value when it is set and valid UTF-8 (an empty value counts
// as set); none otherwise.
std::optional<std::string> environment_text(const char* name);

// Whether a status query on the path, following symbolic links, succeeds.
bool path_exists(const std::filesystem::path& path);

}  // namespace brackwater_dat::parity
