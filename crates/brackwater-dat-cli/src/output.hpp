#pragma once

#include <brackwater_dat/error.hpp>
#include <string>
#include <string_view>

namespace brackwater_dat::cli {

enum class ExitStatus : int {
  Success = 0,
  Problems = 1,  // verify found problems, diff found differences, extract missed files
  Failure = 2,   // a usage error, or the archive or a needed file could not be read
};

// Errors as --debug asks: the library's debug text (its variant and every
// detail, for bug reports) rather than the one line for people.
void set_debug_errors(bool debug);
std::string error_text(const DatError& error);

// One line on standard error: "brackwater-dat: error: " and the message.
void report_error(std::string_view message);

// One line on standard error: "brackwater-dat: warning: " and the message,
// for what a person should know although the command goes on.
void report_warning(std::string_view message);

// Writes a finished command's standard output whole and passes its status on;
// an output that cannot be written is reported and fails the command, except
// a closed pipe, which ends the process quietly (end_for_closed_pipe).
ExitStatus deliver(std::string_view out, ExitStatus status);

}  // namespace brackwater_dat::cli
