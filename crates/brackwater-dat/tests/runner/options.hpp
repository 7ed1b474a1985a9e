#pragma once

#include <cstddef>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace brackwater_dat::runner {

// The command line of a check program.
struct Options {
  std::vector<std::string> filters;  // positional: select names containing any of them
  std::vector<std::string> skips;    // --skip: drop names containing any of them
  bool exact = false;                // filters and skips match whole names
  bool nocapture = false;
  bool show_output = false;
  bool list = false;
  bool help = false;
  bool ignored_only = false;
  bool include_ignored = false;
  std::optional<std::size_t> test_threads;  // none: one thread per check
};

// The arguments after the program name; an error is a message for the user.
std::expected<Options, std::string> parse_options(std::span<const std::string_view> args);

// The text that --help prints.
std::string usage(std::string_view program);

}  // namespace brackwater_dat::runner
