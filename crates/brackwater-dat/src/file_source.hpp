#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>

#include "brackwater_dat/error.hpp"
#include "brackwater_dat/source.hpp"

namespace brackwater_dat {

// An archive file, read only by positioned reads: the file's position is
// never used, so one open file serves many threads at once. A path that
// cannot be opened, names a directory, or names something that cannot be
// positioned (a FIFO, a socket, a pipe, a console) is PathError: it is no
// archive. Never blocks on a FIFO. Interrupted reads are retried; a short
// read is returned as it is.
//
// One implementation per platform, chosen by the build:
// file_source_posix.cpp and file_source_windows.cpp.
Result<std::unique_ptr<Source>> open_file_source(const std::filesystem::path& path);

}  // namespace brackwater_dat
