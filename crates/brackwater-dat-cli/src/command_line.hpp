#pragma once

#include "output.hpp"

namespace brackwater_dat::cli {

// Reads the command line, runs the command it names and returns the exit
// status. Help and the version go to standard output; a usage error is one
// error line and status 2.
ExitStatus run_command_line(int argc, char** argv);

}  // namespace brackwater_dat::cli
