#include "output.hpp"

#include <unistd.h>

#include <brackwater_dat/error.hpp>
#include <cerrno>
#include <csignal>
#include <string>

namespace brackwater_dat::cli {

int write_all(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t written = ::write(fd, data.data(), data.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

namespace {

void report(std::string_view label, std::string_view message) {
  std::string line = "brackwater-dat: ";
  line.append(label).append(": ").append(message) += '\n';
  write_all(STDERR_FILENO, line);  // nowhere left to report a failure to
}

}  // namespace

void report_error(std::string_view message) { report("error", message); }

void report_warning(std::string_view message) { report("warning", message); }

ExitStatus deliver(std::string_view out, ExitStatus status) {
  const int error = write_all(STDOUT_FILENO, out);
  if (error == EPIPE) {
    // The reader has gone, as `head` goes once it has its lines: end as
    // programs in a pipeline do, quietly, by SIGPIPE.
    std::signal(SIGPIPE, SIG_DFL);
    std::raise(SIGPIPE);
  }
  if (error != 0) {
    report_error("cannot write to standard output: " + display_text(IoError::from_os(error)));
    return ExitStatus::Failure;
  }
  return status;
}

}  // namespace brackwater_dat::cli
