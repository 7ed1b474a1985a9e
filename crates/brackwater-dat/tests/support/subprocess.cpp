#include "support/subprocess.hpp"

#include <sys/wait.h>

#include <stdexcept>

namespace brackwater_dat::test_support {

ProcessResult run_process(const std::vector<std::string>& argv, const ProcessOptions& options) {
  parity::ChildOptions child_options{.env = options.env, .working_directory = {}};
  if (options.working_directory) child_options.working_directory = *options.working_directory;
  auto run = parity::run_child(argv, options.input, child_options);
  if (!run) throw std::runtime_error(argv.at(0) + ": " + run.error());
  ProcessResult result{
      .exit_code = {}, .signal = 0, .out = std::move(run->out), .err = std::move(run->err)};
  if (WIFEXITED(run->wait_status)) result.exit_code = WEXITSTATUS(run->wait_status);
  if (WIFSIGNALED(run->wait_status)) result.signal = WTERMSIG(run->wait_status);
  return result;
}

}  // namespace brackwater_dat::test_support
