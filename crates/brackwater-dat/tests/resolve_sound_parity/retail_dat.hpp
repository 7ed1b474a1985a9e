#pragma once

#include <filesystem>
#include <optional>

namespace brackwater_dat::parity {

// The retail portal archive: AC_BASE_PORTAL_DAT when set (and valid UTF-8),
// else the first of the two fixed install locations that exists. Reads the
// environment and the file system afresh on every call; never fails.
std::optional<std::filesystem::path> locate_retail_dat();

}  // namespace brackwater_dat::parity
