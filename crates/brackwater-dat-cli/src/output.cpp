#include "output.hpp"

#include <brackwater_dat/error.hpp>
#include <string>

#include "process.hpp"

namespace brackwater_dat::cli {
namespace {

bool debug_errors = false;

void report(std::string_view label, std::string_view message) {
  std::string line = "brackwater-dat: ";
  line.append(label).append(": ").append(message) += '\n';
  (void)write_all(Stream::Err, line);  // nowhere left to report a failure to
}

}  // namespace

void set_debug_errors(bool debug) { debug_errors = debug; }

std::string error_text(const DatError& error) {
  return debug_errors ? debug_text(error) : display_text(error);
}

void report_error(std::string_view message) { report("error", message); }

void report_warning(std::string_view message) { report("warning", message); }

ExitStatus deliver(std::string_view out, ExitStatus status) {
  const auto written = write_all(Stream::Out, out);
  if (written) return status;
  // The reader has gone, as `head` goes once it has its lines.
  if (reader_gone(written.error())) end_for_closed_pipe();
  report_error("cannot write to standard output: " + display_text(written.error()));
  return ExitStatus::Failure;
}

}  // namespace brackwater_dat::cli
