// brackwater-dat: lists, extracts, inspects, checks and compares DAT archives.
#include <csignal>
#include <exception>
#include <new>

#include "command_line.hpp"
#include "output.hpp"

int main(int argc, char** argv) {
  using brackwater_dat::cli::ExitStatus;
  // A file size limit shows as a failed write, reported like any other,
  // rather than ending the process silently; so does a closed reader until
  // deliver() sees it and ends the process as SIGPIPE would.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  try {
    return static_cast<int>(brackwater_dat::cli::run_command_line(argc, argv));
  } catch (const std::bad_alloc&) {
    brackwater_dat::cli::report_error("out of memory");
  } catch (const std::exception& error) {
    brackwater_dat::cli::report_error(error.what());
  }
  return static_cast<int>(ExitStatus::Failure);
}
