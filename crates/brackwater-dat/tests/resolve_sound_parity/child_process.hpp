#pragma once

#include <brackwater_dat/error.hpp>
#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brackwater_dat::parity {

// What a finished child left: its raw wait status and both outputs.
struct ChildRun {
  int wait_status = 0;
  std::string out;
  std::string err;
};

// An environment change: set NAME to the value, or unset it when there is none.
using EnvChange = std::pair<std::string, std::optional<std::string>>;

// What the child gets besides the caller's own environment and working directory.
struct ChildOptions {
  std::vector<EnvChange> env = {};
  std::optional<std::filesystem::path> working_directory = {};
};

// Starts `argv` (a bare program name is looked up along PATH) with all three
// standard streams on pipes and the environment and working directory
// inherited, as changed by `options`; writes `input` whole, closes it, drains both outputs together
// and waits. The error is the text that names the failed step ("spawn
// LS.Terminal: ...", "write stdin: ...", "wait LS.Terminal: ..."). A child
// left behind by a failure is closed off, killed and reaped.
std::expected<ChildRun, std::string> run_child(const std::vector<std::string>& argv,
                                               std::string_view input,
                                               const ChildOptions& options = {});

// Writes all of `data` to `fd`, continuing partial writes and retrying
// interrupted ones. A reader that has gone away is the broken-pipe error,
// never a SIGPIPE for the process; no progress is WriteZero.
std::expected<void, IoError> write_all(int fd, std::string_view data);

// ExitStatus(unix_wait_status(256)) for a raw wait status of 256.
std::string debug_exit_status(int wait_status);

}  // namespace brackwater_dat::parity
