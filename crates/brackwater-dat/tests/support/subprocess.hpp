#pragma once

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

// Runs `argv` to completion, draining both output streams together. Throws
// std::system_error when the process cannot be started.
ProcessResult run_process(const std::vector<std::string>& argv, const ProcessOptions& options = {});

}  // namespace brackwater_dat::test_support
