// brackwater-dat: lists, extracts, inspects, checks and compares DAT archives.
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "command_line.hpp"
#include "output.hpp"
#include "process.hpp"

int main(int argc, char** argv) {
  using brackwater_dat::cli::ExitStatus;
  try {
    std::vector<std::string> arguments = brackwater_dat::cli::start_process(argc, argv);
    std::vector<char*> pointers;
    for (std::string& argument : arguments) pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    return static_cast<int>(
        brackwater_dat::cli::run_command_line(static_cast<int>(arguments.size()), pointers.data()));
  } catch (const std::bad_alloc&) {
    brackwater_dat::cli::report_error("out of memory");
  } catch (const std::exception& error) {
    brackwater_dat::cli::report_error(error.what());
  }
  return static_cast<int>(ExitStatus::Failure);
}
