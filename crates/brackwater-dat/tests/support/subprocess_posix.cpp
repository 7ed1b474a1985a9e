#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "resolve_sound_parity/child_process.hpp"
#include "support/subprocess.hpp"

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

StartedProcess::StartedProcess(const std::vector<std::string>& argv,
                               const std::filesystem::path& out, const std::filesystem::path& err) {
  std::vector<std::string> words = argv;
  std::vector<char*> pointers;
  for (auto& word : words) pointers.push_back(word.data());
  pointers.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    const int out_fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err_fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int in_fd = ::open("/dev/null", O_RDONLY);
    if (out_fd < 0 || err_fd < 0 || in_fd < 0) ::_exit(127);
    ::dup2(in_fd, 0), ::dup2(out_fd, 1), ::dup2(err_fd, 2);
    ::execv(pointers[0], pointers.data());
    ::_exit(127);
  }
  handle_ = pid;
}

StartedProcess::~StartedProcess() {
  if (handle_ > 0) {
    ::kill(static_cast<pid_t>(handle_), SIGKILL);
    ::waitpid(static_cast<pid_t>(handle_), nullptr, 0);
  }
}

void StartedProcess::stop(int signal) const { ::kill(static_cast<pid_t>(handle_), signal); }

StartedProcess::Ended StartedProcess::wait() {
  int status = 0;
  rusage usage{};
  while (::wait4(static_cast<pid_t>(handle_), &status, 0, &usage) < 0 && errno == EINTR) {
  }
  handle_ = -1;
  Ended ended;
  ended.peak_memory_kib = usage.ru_maxrss;
  if (WIFEXITED(status)) ended.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) ended.signal = WTERMSIG(status);
  return ended;
}

}  // namespace brackwater_dat::test_support
