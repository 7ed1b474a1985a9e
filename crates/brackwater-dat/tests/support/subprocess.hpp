#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace brackwater_dat::test_support {

struct ProcessResult {
  std::optional<int> exit_code;  // none when a signal ended the process
  int signal = 0;
  std::string out;
  std::string err;
};

// An environment change: set NAME to the value, or unset it when there is none.
using EnvChange = std::pair<std::string, std::optional<std::string>>;

struct ProcessOptions {
  std::vector<EnvChange> env = {};
  std::string input = {};  // written to the child's standard input, which is then closed
  std::optional<std::string> working_directory = {};
};

// Runs `argv` to completion, its standard streams on pipes. Throws
// std::runtime_error when the process cannot be run. One implementation per
// platform: on POSIX through the check program's own child runner, on
// Windows with CreateProcessW.
ProcessResult run_process(const std::vector<std::string>& argv, const ProcessOptions& options = {});

// A program started and left running, its standard input empty and its
// output and error going to files, for tests that stop it while it works or
// measure what it took. Killed if it is still running when this goes.
class StartedProcess {
 public:
  StartedProcess(const std::vector<std::string>& argv, const std::filesystem::path& out,
                 const std::filesystem::path& err);
  ~StartedProcess();
  StartedProcess(const StartedProcess&) = delete;
  StartedProcess& operator=(const StartedProcess&) = delete;

  // Asks it to stop as SIGINT (Ctrl+C) or SIGTERM would.
  void stop(int signal) const;

  struct Ended {
    std::optional<int> exit_code;  // none when a signal ended it
    int signal = 0;
    long peak_memory_kib = 0;  // its peak resident memory
  };
  Ended wait();

 private:
  std::intptr_t handle_ = -1;  // a process id, or a Windows process handle
};

}  // namespace brackwater_dat::test_support
