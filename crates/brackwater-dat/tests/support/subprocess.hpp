#pragma once

#include <optional>
#include <string>
#include <vector>

#include "resolve_sound_parity/child_process.hpp"

namespace brackwater_dat::test_support {

struct ProcessResult {
  std::optional<int> exit_code;  // none when a signal ended the process
  int signal = 0;
  std::string out;
  std::string err;
};

using parity::EnvChange;

struct ProcessOptions {
  std::vector<EnvChange> env = {};
  std::string input = {};  // written to the child's standard input, which is then closed
  std::optional<std::string> working_directory = {};
};

// Runs `argv` to completion through the check program's own child runner.
// Throws std::runtime_error when the process cannot be run.
ProcessResult run_process(const std::vector<std::string>& argv, const ProcessOptions& options = {});

}  // namespace brackwater_dat::test_support
