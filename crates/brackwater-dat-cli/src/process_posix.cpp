#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "process.hpp"

namespace brackwater_dat::cli {
namespace {

int descriptor(Stream stream) { return stream == Stream::Out ? STDOUT_FILENO : STDERR_FILENO; }

}  // namespace

std::vector<std::string> start_process(int argc, char** argv) {
  // A file size limit shows as a failed write, reported like any other,
  // rather than ending the process silently; so does a closed reader until
  // deliver() sees it and ends the process as SIGPIPE would.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  return std::vector<std::string>(argv, argv + argc);
}

bool is_terminal(Stream stream) { return ::isatty(descriptor(stream)) == 1; }

std::expected<void, IoError> write_all(Stream stream, std::string_view data) {
  while (!data.empty()) {
    const ssize_t written = ::write(descriptor(stream), data.data(), data.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(IoError::from_os(errno));
    }
    data.remove_prefix(static_cast<std::size_t>(written));
  }
  return {};
}

bool reader_gone(const IoError& error) { return error.os_code() == EPIPE; }

void end_for_closed_pipe() {
  std::signal(SIGPIPE, SIG_DFL);
  std::raise(SIGPIPE);
}

unsigned long process_id() { return static_cast<unsigned long>(::getpid()); }

std::filesystem::path path_of(const std::string& text) { return text; }

}  // namespace brackwater_dat::cli
