#include "support/subprocess.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <map>
#include <system_error>

extern char** environ;

namespace brackwater_dat::test_support {
namespace {

[[noreturn]] void throw_errno(const char* what, int code = errno) {
  throw std::system_error(code, std::generic_category(), what);
}

class Pipe {
 public:
  Pipe() {
    if (::pipe2(fds_.data(), O_CLOEXEC) != 0) throw_errno("pipe2");
  }
  ~Pipe() {
    close_read();
    close_write();
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;

  int read_end() const { return fds_[0]; }
  int write_end() const { return fds_[1]; }
  void close_read() { close_fd(fds_[0]); }
  void close_write() { close_fd(fds_[1]); }

 private:
  static void close_fd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  std::array<int, 2> fds_{-1, -1};
};

std::vector<std::string> merged_environment(const std::vector<EnvChange>& changes) {
  std::map<std::string, std::string> vars;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    const auto eq = text.find('=');
    if (eq != std::string_view::npos) vars[std::string(text.substr(0, eq))] = text.substr(eq + 1);
  }
  for (const auto& [name, value] : changes) {
    if (value) {
      vars[name] = *value;
    } else {
      vars.erase(name);
    }
  }
  std::vector<std::string> merged;
  for (const auto& [name, value] : vars) merged.push_back(name + "=" + value);
  return merged;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> result;
  for (auto& s : strings) result.push_back(s.data());
  result.push_back(nullptr);
  return result;
}

// Feeds `input` and drains both outputs until every stream is closed.
void exchange(Pipe& in, Pipe& out, Pipe& err, std::string_view input, ProcessResult& result) {
  std::size_t written = 0;
  if (input.empty()) in.close_write();
  std::array<char, 65536> chunk;
  for (;;) {
    std::array<pollfd, 3> fds{};
    nfds_t count = 0;
    auto watch = [&](int fd, short events) {
      if (fd >= 0) fds[count++] = pollfd{.fd = fd, .events = events, .revents = 0};
    };
    watch(out.read_end(), POLLIN);
    watch(err.read_end(), POLLIN);
    watch(in.write_end(), POLLOUT);
    if (count == 0) return;
    if (::poll(fds.data(), count, -1) < 0) {
      if (errno == EINTR) continue;
      throw_errno("poll");
    }
    for (nfds_t i = 0; i < count; ++i) {
      if (fds[i].revents == 0) continue;
      const int fd = fds[i].fd;
      if (fd == in.write_end()) {
        const ssize_t n = ::write(fd, input.data() + written, input.size() - written);
        if (n < 0 && errno != EINTR && errno != EAGAIN) {
          in.close_write();  // the child stopped reading; its outputs still count
          continue;
        }
        if (n > 0) written += static_cast<std::size_t>(n);
        if (written == input.size()) in.close_write();
        continue;
      }
      const ssize_t n = ::read(fd, chunk.data(), chunk.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        (fd == out.read_end() ? out : err).close_read();
        continue;
      }
      (fd == out.read_end() ? result.out : result.err).append(chunk.data(), n);
    }
  }
}

}  // namespace

ProcessResult run_process(const std::vector<std::string>& argv, const ProcessOptions& options) {
  Pipe in, out, err;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in.read_end(), STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out.write_end(), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err.write_end(), STDERR_FILENO);
  if (options.working_directory) {
    posix_spawn_file_actions_addchdir_np(&actions, options.working_directory->c_str());
  }

  std::vector<std::string> args = argv;
  std::vector<std::string> env = merged_environment(options.env);
  auto arg_pointers = pointers(args);
  auto env_pointers = pointers(env);

  pid_t pid = 0;
  const int spawned = ::posix_spawnp(&pid, args.at(0).c_str(), &actions, nullptr,
                                     arg_pointers.data(), env_pointers.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw_errno("posix_spawnp", spawned);

  in.close_read();
  out.close_write();
  err.close_write();
  // A child that exits without reading its input must not end this process.
  ::signal(SIGPIPE, SIG_IGN);

  ProcessResult result;
  exchange(in, out, err, options.input, result);

  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw_errno("waitpid");
  }
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

}  // namespace brackwater_dat::test_support
