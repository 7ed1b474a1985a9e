#include "runner/options.hpp"

#include <charconv>

namespace brackwater_dat::runner {
namespace {

using Parsed = std::expected<Options, std::string>;

std::expected<std::size_t, std::string> parse_thread_count(std::string_view text) {
  std::size_t count = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), count);
  if (ec != std::errc{} || end != text.data() + text.size() || count == 0) {
    return std::unexpected("argument for --test-threads must be a number > 0 (got '" +
                           std::string(text) + "')");
  }
  return count;
}

}  // namespace

Parsed parse_options(std::span<const std::string_view> args) {
  Options options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    // A valued option takes `--name VALUE` or `--name=VALUE`.
    auto value_of = [&](std::string_view name) -> std::optional<std::string_view> {
      if (arg == name && i + 1 < args.size()) return args[++i];
      if (arg.starts_with(name) && arg.size() > name.size() && arg[name.size()] == '=') {
        return arg.substr(name.size() + 1);
      }
      return std::nullopt;
    };
    auto is_valued = [&](std::string_view name) {
      return arg == name || (arg.starts_with(name) && arg.substr(name.size()).starts_with('='));
    };

    if (arg == "--") {
      options.filters.insert(options.filters.end(), args.begin() + i + 1, args.end());
      break;
    }
    if (arg == "--exact") {
      options.exact = true;
    } else if (arg == "--nocapture") {
      options.nocapture = true;
    } else if (arg == "--show-output") {
      options.show_output = true;
    } else if (arg == "--list") {
      options.list = true;
    } else if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--ignored") {
      options.ignored_only = true;
    } else if (arg == "--include-ignored") {
      options.include_ignored = true;
    } else if (is_valued("--test-threads")) {
      const auto value = value_of("--test-threads");
      if (!value) return std::unexpected("option --test-threads needs a value");
      auto count = parse_thread_count(*value);
      if (!count) return std::unexpected(count.error());
      options.test_threads = *count;
    } else if (is_valued("--skip")) {
      const auto value = value_of("--skip");
      if (!value) return std::unexpected("option --skip needs a value");
      options.skips.emplace_back(*value);
    } else if (arg.starts_with('-') && arg != "-") {
      return std::unexpected("unrecognized option '" + std::string(arg) + "'");
    } else {
      options.filters.emplace_back(arg);
    }
  }
  if (options.ignored_only && options.include_ignored) {
    return std::unexpected("--ignored and --include-ignored cannot be used together");
  }
  return options;
}

std::string usage(std::string_view program) {
  return "Usage: " + std::string(program) +
         " [OPTIONS] [FILTER...]\n"
         "\n"
         "Runs the checks whose names contain any FILTER (all checks when none is given).\n"
         "Everything after -- is a FILTER.\n"
         "\n"
         "Options:\n"
         "  --exact             filters and --skip patterns match whole names only\n"
         "  --skip PATTERN      skip checks whose names contain PATTERN (repeatable)\n"
         "  --test-threads N    run at most N checks at once (default: all at once)\n"
         "  --nocapture         let checks write straight to standard output and error\n"
         "  --show-output       print the captured output of passing checks too\n"
         "  --ignored           run only the ignored checks\n"
         "  --include-ignored   run the ignored checks as well\n"
         "  --list              list the selected checks and exit\n"
         "  -h, --help          print this text and exit\n"
         "\n"
         "Exit status: 0 when every selected check passed, 101 otherwise.\n";
}

}  // namespace brackwater_dat::runner
