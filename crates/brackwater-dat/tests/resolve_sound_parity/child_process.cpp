#include "resolve_sound_parity/child_process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <map>
#include <utility>

#include "resolve_sound_parity/unique_fd.hpp"

extern char** environ;

namespace brackwater_dat::parity {
namespace {

using Fd = UniqueFd;

std::expected<std::pair<Fd, Fd>, IoError> make_pipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return std::unexpected(IoError::from_os(errno));
  return std::pair{Fd(fds[0]), Fd(fds[1])};
}

// A started child: until it is reaped, leaving scope kills and reaps it.
class Child {
 public:
  explicit Child(pid_t pid) noexcept : pid_(pid) {}
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }

  std::expected<int, IoError> wait() {
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0) {
      if (errno == EINTR) continue;
      pid_ = 0;  // not ours to wait for, so not ours to kill either
      return std::unexpected(IoError::from_os(errno));
    }
    pid_ = 0;
    return status;
  }

 private:
  pid_t pid_;
};

// Holds SIGPIPE blocked on this thread while alive and discards one raised
// meanwhile, so a write to a closed pipe only fails with EPIPE.
class SigpipeBlock {
 public:
  SigpipeBlock() noexcept {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    was_pending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_, &previous_);
  }
  ~SigpipeBlock() {
    if (!was_pending_) {
      const timespec now{0, 0};
      while (sigtimedwait(&pipe_, nullptr, &now) == SIGPIPE) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  SigpipeBlock(const SigpipeBlock&) = delete;
  SigpipeBlock& operator=(const SigpipeBlock&) = delete;

 private:
  sigset_t pipe_;
  sigset_t previous_;
  bool was_pending_ = false;
};

// The process's own environment with `changes` applied, as NAME=VALUE texts.
std::vector<std::string> changed_environment(const std::vector<EnvChange>& changes) {
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

std::vector<char*> pointers(std::vector<std::string>& texts) {
  std::vector<char*> result;
  for (auto& text : texts) result.push_back(text.data());
  result.push_back(nullptr);
  return result;
}

// Reads both outputs to their ends together, so a child filling one while the
// other is read cannot stall.
std::expected<void, IoError> drain(Fd& out, Fd& err, ChildRun& run) {
  std::array<char, 65536> chunk;
  while (out || err) {
    std::array<pollfd, 2> fds{};
    nfds_t count = 0;
    if (out) fds[count++] = pollfd{out.get(), POLLIN, 0};
    if (err) fds[count++] = pollfd{err.get(), POLLIN, 0};
    if (::poll(fds.data(), count, -1) < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(IoError::from_os(errno));
    }
    for (nfds_t i = 0; i < count; ++i) {
      if (fds[i].revents == 0) continue;
      Fd& fd = fds[i].fd == out.get() ? out : err;
      std::string& text = &fd == &out ? run.out : run.err;
      const ssize_t got = ::read(fd.get(), chunk.data(), chunk.size());
      if (got < 0) {
        if (errno == EINTR || errno == EAGAIN) continue;
        return std::unexpected(IoError::from_os(errno));
      }
      if (got == 0) {
        fd.close();
      } else {
        text.append(chunk.data(), static_cast<std::size_t>(got));
      }
    }
  }
  return {};
}

}  // namespace

std::expected<void, IoError> write_all(int fd, std::string_view data) {
  const SigpipeBlock block;
  while (!data.empty()) {
    const ssize_t wrote = ::write(fd, data.data(), data.size());
    if (wrote < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(IoError::from_os(errno));
    }
    if (wrote == 0) {
      return std::unexpected(
          IoError::simple(IoErrorKind::WriteZero, "failed to write whole buffer"));
    }
    data.remove_prefix(static_cast<std::size_t>(wrote));
  }
  return {};
}

std::string debug_exit_status(int wait_status) {
  return "ExitStatus(unix_wait_status(" + std::to_string(wait_status) + "))";
}

std::expected<ChildRun, std::string> run_child(const std::vector<std::string>& argv,
                                               std::string_view input,
                                               const ChildOptions& options) {
  auto in = make_pipe();
  auto out = make_pipe();
  auto err = make_pipe();
  for (auto* pipe : {&in, &out, &err}) {
    if (!*pipe) return std::unexpected("spawn LS.Terminal: " + display_text(pipe->error()));
  }
  auto& [in_read, in_write] = *in;
  auto& [out_read, out_write] = *out;
  auto& [err_read, err_write] = *err;
  // Room for the whole input where the system allows it, so that writing it
  // never waits on the child. Only ever grown.
  const int capacity = ::fcntl(in_write.get(), F_GETPIPE_SZ);
  if (capacity >= 0 && static_cast<std::size_t>(capacity) < input.size()) {
    ::fcntl(in_write.get(), F_SETPIPE_SZ, static_cast<int>(input.size()));
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in_read.get(), STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out_write.get(), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err_write.get(), STDERR_FILENO);
  if (options.working_directory) {
    posix_spawn_file_actions_addchdir_np(&actions, options.working_directory->c_str());
  }
  std::vector<std::string> args = argv;
  auto arg_pointers = pointers(args);
  std::vector<std::string> env;
  if (!options.env.empty()) env = changed_environment(options.env);
  auto env_pointers = pointers(env);
  pid_t pid = 0;
  const int spawned =
      ::posix_spawnp(&pid, args.front().c_str(), &actions, nullptr, arg_pointers.data(),
                     options.env.empty() ? environ : env_pointers.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0)
    return std::unexpected("spawn LS.Terminal: " + display_text(IoError::from_os(spawned)));
  Child child(pid);
  in_read.close();
  out_write.close();
  err_write.close();

  if (auto wrote = write_all(in_write.get(), input); !wrote) {
    // Close the child's pipes before it is killed and reaped.
    in_write.close();
    out_read.close();
    err_read.close();
    return std::unexpected("write stdin: " + display_text(wrote.error()));
  }
  in_write.close();

  ChildRun run;
  if (auto drained = drain(out_read, err_read, run); !drained) {
    out_read.close();
    err_read.close();
    return std::unexpected("wait LS.Terminal: " + display_text(drained.error()));
  }
  const auto status = child.wait();
  if (!status) return std::unexpected("wait LS.Terminal: " + display_text(status.error()));
  run.wait_status = *status;
  return run;
}

}  // namespace brackwater_dat::parity
