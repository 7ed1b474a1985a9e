#pragma once

#include "output.hpp"

namespace brackwater_dat::cli {

// While one lives, SIGINT and SIGTERM do not end the process: they ask the
// command to stop, so that it can take back the files it has half written
// and say what it did. The command then exits as an interrupted program
// does, 128 and the signal's number. On Windows, Ctrl+C and Ctrl+Break stand
// for SIGINT, a closing console for SIGTERM. One implementation per
// platform: interruption_posix.cpp, interruption_windows.cpp.
class Interruption {
 public:
  Interruption();
  ~Interruption();
  Interruption(const Interruption&) = delete;
  Interruption& operator=(const Interruption&) = delete;

  // The signal that asked the command to stop, or 0.
  static int signal() noexcept;
  // 128 and the signal's number: 130 for SIGINT, 143 for SIGTERM.
  static ExitStatus status() noexcept;
};

}  // namespace brackwater_dat::cli
