#include "command_line.hpp"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <brackwater_dat/http_source.hpp>
#include <brackwater_dat/version.hpp>
#include <cstdlib>
#include <exception>

#include "archive.hpp"
#include "cat_command.hpp"
#include "create_command.hpp"
#include "diff_command.hpp"
#include "extract_command.hpp"
#include "ids.hpp"
#include "info_command.hpp"
#include "ls_command.hpp"
#include "parallel.hpp"
#include "repack_command.hpp"
#include "sound_command.hpp"
#include "verify_command.hpp"

namespace brackwater_dat::cli {
namespace {

// The validators have no names: help shows an option's value as its
// option_text says, not as CLI11's type tags.
const CLI::Validator kIdText(
    [](const std::string& text) {
      return parse_id(text) ? std::string()
                            : "'" + text +
                                  "' is not an id: use hex digits (0x0A000262 or 0A000262), or "
                                  "decimal";
    },
    "");

const CLI::Validator kTypeText(
    [](const std::string& text) {
      return parse_type(text) ? std::string()
                              : "'" + text + "' is not a file type: use two hex digits, as 0A";
    },
    "");

constexpr unsigned kMostThreads = 1024;

const CLI::Validator kThreadsText(
    [](const std::string& text) {
      const auto count = parse_id(text);
      return count && *count >= 1 && *count <= kMostThreads
                 ? std::string()
                 : "'" + text + "' is not a thread count: use 1 to " + std::to_string(kMostThreads);
    },
    "");

// Help in the tool's words: COMMAND and ARGUMENTS, values named by their
// option_text (TT, N), no type tags or REQUIRED marks.
class HelpFormatter : public CLI::Formatter {
 public:
  HelpFormatter() {
    label("SUBCOMMAND", "COMMAND");
    label("Subcommands", "Commands");
    label("Positionals", "Arguments");
    column_width(24);
  }
  std::string make_option_opts(const CLI::Option* option) const override {
    const std::string& value = option->get_option_text();
    return value.empty() ? std::string() : " " + value;
  }
};

const CLI::Validator kHeaderText(
    [](const std::string& text) {
      const auto wrong = http_header_problem(text);
      return wrong ? "the header '" + text + "' " + *wrong : std::string();
    },
    "");

const CLI::Validator kSecondsText(
    [](const std::string& text) {
      // Decimal digits, perhaps with a fraction: not strtod's hex, exponents or inf.
      const bool decimal = !text.empty() &&
                           text.find_first_not_of("0123456789.") == std::string::npos &&
                           std::ranges::count(text, '.') <= 1 && text != ".";
      const double seconds = decimal ? std::strtod(text.c_str(), nullptr) : 0;
      return decimal && seconds >= 0.001 && seconds <= 86400
                 ? std::string()
                 : "'" + text + "' is not a timeout: use seconds, as 30 or 2.5";
    },
    "");

// How an archive named by URL is read: every command that reads one takes these.
void add_remote(CLI::App& command, RemoteReading& remote) {
  command.add_flag("--whole", remote.whole,
                   "read a URL's directory whole when it is opened (a URL is read on demand)");
  command
      .add_option_function<std::vector<std::string>>(
          "--http-header",
          [&remote](const std::vector<std::string>& texts) {
            remote.headers.insert(remote.headers.end(), texts.begin(), texts.end());
          },
          "send this header with every request for a URL, as 'Name: value'")
      ->check(kHeaderText)
      ->option_text("'NAME: VALUE'")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  command
      .add_option_function<std::string>(
          "--http-timeout",
          [&remote](const std::string& text) {
            remote.timeout = std::chrono::milliseconds(
                static_cast<std::int64_t>(std::strtod(text.c_str(), nullptr) * 1000));
          },
          "give up a request for a URL after S seconds without a byte (default: 30)")
      ->check(kSecondsText)
      ->option_text("S");
  command.add_flag("--verbose", remote.verbose,
                   "show each request for a URL, its range, status and time, on standard error");
}

void add_archive(CLI::App& command, std::string& archive, RemoteReading& remote) {
  command.add_option("ARCHIVE", archive, "the DAT archive: a file, or an http:// or https:// URL")
      ->required();
  add_remote(command, remote);
}

void add_json(CLI::App& command, bool& json) {
  command.add_flag("--json", json, "print JSON instead of text");
}

void add_id(CLI::App& command, const std::string& name, TypedId& id,
            const std::string& description) {
  command
      .add_option_function<std::string>(
          name, [&id](const std::string& text) { id = *parse_typed_id(text); }, description)
      ->check(kIdText)
      ->required();
}

void add_ids(CLI::App& command, const std::string& name, std::vector<TypedId>& ids,
             const std::string& description) {
  command
      .add_option_function<std::vector<std::string>>(
          name,
          [&ids](const std::vector<std::string>& texts) {
            for (const auto& text : texts) ids.push_back(*parse_typed_id(text));
          },
          description)
      ->check(kIdText);
}

void add_type(CLI::App& command, std::optional<std::uint8_t>& type) {
  command
      .add_option_function<std::string>(
          "--type", [&type](const std::string& text) { type = *parse_type(text); },
          "only files of this type, as 0A or 0x0A")
      ->check(kTypeText)
      ->option_text("TT");
}

void add_any_header(CLI::App& command, bool& any_header) {
  command.add_flag("--any-header", any_header,
                   "read the file even where its header is not an archive's");
}

void add_partial(CLI::App& command, bool& partial) {
  command.add_flag("--partial", partial,
                   "take what decodes of a compressed file whose stream ends early");
}

void add_threads(CLI::App& command, unsigned& threads) {
  threads = default_threads();
  command
      .add_option("--threads", threads,
                  "threads to use (default: the hardware's; at least 16 for a URL)")
      ->check(kThreadsText)
      ->option_text("N");
}

void add_on_demand(CLI::App& command, bool& on_demand) {
  command.add_flag("--on-demand", on_demand,
                   "read only the directory nodes on the way to the file, not the whole directory");
}

void add_progress(CLI::App& command, std::optional<bool>& progress) {
  auto* on = command.add_flag_callback(
      "--progress", [&progress] { progress = true; },
      "show a progress line on standard error (the default on a terminal)");
  auto* off = command.add_flag_callback(
      "--no-progress", [&progress] { progress = false; }, "never show the progress line");
  on->excludes(off);
}

const CLI::Validator kPutText(
    [](const std::string& text) {
      const auto equals = text.find('=');
      return equals != std::string::npos && equals + 1 < text.size() &&
                     parse_id(text.substr(0, equals))
                 ? std::string()
                 : "'" + text + "' is not ID=FILE";
    },
    "");

// The options of the commands that write an archive.
void add_writing(CLI::App& command, std::optional<std::uint32_t>& block_size,
                 std::optional<std::string>& compress, bool& force, bool& json,
                 std::optional<bool>& progress, const std::string& compress_help) {
  command
      .add_option("--block-size", block_size,
                  "bytes in each block, 512 to 1048576, a multiple of 4")
      ->option_text("N");
  const bool keeps = compress_help.starts_with("keep");
  command.add_option("--compress", compress, "how files are stored: " + compress_help)
      ->check(keeps ? CLI::IsMember({"keep", "store", "fast", "best", "smaller"})
                    : CLI::IsMember({"store", "fast", "best", "smaller"}))
      ->option_text("HOW");
  command.add_flag("--force", force, "overwrite OUT if it exists");
  add_json(command, json);
  add_progress(command, progress);
}

// The commands' names as a sentence lists them: "a, b and c".
std::string command_names(CLI::App& app) {
  const auto commands = app.get_subcommands([](CLI::App*) { return true; });
  std::string names;
  for (std::size_t i = 0; i < commands.size(); ++i) {
    if (i > 0) names += i + 1 < commands.size() ? ", " : " and ";
    names += commands[i]->get_name();
  }
  return names;
}

bool names_a_command(CLI::App& app, const std::string& word) {
  const auto commands = app.get_subcommands([](CLI::App*) { return true; });
  return std::ranges::any_of(commands, [&](const CLI::App* c) { return c->get_name() == word; });
}

// A usage error as the tool says it, rather than in CLI11's words.
std::string usage_message(CLI::App& app, const CLI::ParseError& error) {
  const std::vector<std::string> left = app.remaining(true);
  // An option that no command has is the likeliest mistake, whatever else is missing.
  for (const std::string& arg : left) {
    if (arg.size() > 1 && arg[0] == '-') return "unknown option '" + arg + "'";
  }
  const std::string what = error.what();
  const auto kind = static_cast<CLI::ExitCodes>(error.get_exit_code());
  if (kind == CLI::ExitCodes::ExtrasError) {
    // "The following argument(s) ... expected: A B": the arguments follow the colon.
    const std::string first = what.substr(what.rfind(": ") + 2);
    return "unexpected argument '" + first.substr(0, first.find(' ')) + "'";
  }
  if (kind == CLI::ExitCodes::RequiredError && what == "A subcommand is required") {
    return "no command given; the commands are " + command_names(app);
  }
  if (kind == CLI::ExitCodes::ArgumentMismatch)
    return what.substr(0, what.find(':')) + " needs a value";
  return what;
}

}  // namespace

ExitStatus run_command_line(int argc, char** argv) {
  CLI::App app(
      "Lists, extracts, inspects, checks, compares and writes the game client's DAT archives.",
      "brackwater-dat");
  // Commands take the formatter and help flag the program has when they are added.
  app.formatter(std::make_shared<HelpFormatter>());
  app.set_help_flag("-h,--help", "show this help and exit");
  app.set_version_flag("--version", "brackwater-dat " + std::string(version()),
                       "show the version and exit");
  app.require_subcommand(1);
  // The same syntax everywhere: on Windows, CLI11 would take /x for an option.
  app.allow_windows_style_options(false);
  bool debug = false;
  RemoteReading remote;
  app.add_flag("--debug", debug, "show errors in the library's debug text, for bug reports");

  InfoOptions info;
  auto* info_command = app.add_subcommand(
      "info", "the archive's header, number of files, compressed files, stored bytes and types");
  add_archive(*info_command, info.archive, remote);
  add_json(*info_command, info.json);

  LsOptions ls;
  auto* ls_command = app.add_subcommand("ls", "every file sorted by id, one line each");
  add_archive(*ls_command, ls.archive, remote);
  add_type(*ls_command, ls.type);
  ls_command->add_flag("--long", ls.long_format,
                       "a header line, times as ISO 8601 and compressed files' decompressed sizes");
  add_json(*ls_command, ls.json);
  add_any_header(*ls_command, ls.any_header);

  CatOptions cat;
  auto* cat_command = app.add_subcommand("cat", "a file's contents to standard output");
  add_archive(*cat_command, cat.archive, remote);
  add_id(*cat_command, "ID", cat.id, "the file's id, as 0x0A000262 or decimal");
  cat_command->add_flag("--raw", cat.raw, "the stored bytes, not decompressed");
  cat_command->add_flag("--force", cat.force, "write even to a terminal");
  add_on_demand(*cat_command, cat.on_demand);
  add_partial(*cat_command, cat.partial);
  add_any_header(*cat_command, cat.any_header);

  ExtractOptions extract;
  auto* extract_command = app.add_subcommand(
      "extract", "every file (or one type's, or those named) to DIR/TT/XXXXXXXX.bin");
  add_archive(*extract_command, extract.archive, remote);
  extract_command->add_option("DIR", extract.folder, "the folder to extract into")->required();
  add_ids(*extract_command, "ID", extract.ids, "only these files, as 0x0A000262 or 0A000262");
  add_type(*extract_command, extract.type);
  extract_command->add_flag("--raw", extract.raw, "the stored bytes, not decompressed");
  add_threads(*extract_command, extract.threads);
  extract_command->add_flag("--force", extract.force, "overwrite files that exist");
  extract_command->add_flag("--allow-shared", extract.allow_shared,
                            "extract files whose chains loop or share blocks too");
  add_progress(*extract_command, extract.progress);
  add_partial(*extract_command, extract.partial);
  add_any_header(*extract_command, extract.any_header);

  SoundOptions sound;
  auto* sound_command = app.add_subcommand("sound", "a decoded sound table");
  add_archive(*sound_command, sound.archive, remote);
  add_id(*sound_command, "TABLE_ID", sound.table, "the sound table's id, as 0x20000001");
  add_ids(*sound_command, "KIND", sound.kinds, "only these sound kinds");
  add_json(*sound_command, sound.json);
  add_on_demand(*sound_command, sound.on_demand);
  add_any_header(*sound_command, sound.any_header);

  ResolveOptions resolve;
  auto* resolve_command = app.add_subcommand("resolve", "the wave each sound kind plays");
  add_archive(*resolve_command, resolve.archive, remote);
  add_id(*resolve_command, "TABLE_ID", resolve.table, "the sound table's id, as 0x20000001");
  add_ids(*resolve_command, "KIND", resolve.kinds, "the sound kinds, as 0x58 or decimal");
  resolve_command->get_option("KIND")->required();
  add_json(*resolve_command, resolve.json);
  add_on_demand(*resolve_command, resolve.on_demand);
  add_any_header(*resolve_command, resolve.any_header);

  VerifyOptions verify;
  auto* verify_command = app.add_subcommand(
      "verify", "read every file and report unreadable, short, shared or early-ending ones");
  add_archive(*verify_command, verify.archive, remote);
  add_json(*verify_command, verify.json);
  add_progress(*verify_command, verify.progress);

  DiffOptions diff;
  auto* diff_command = app.add_subcommand(
      "diff", "files added, removed and changed, in their entries or their contents");
  diff_command->add_option("OLD", diff.old_archive, "the older archive: a file or URL")->required();
  diff_command->add_option("NEW", diff.new_archive, "the newer archive: a file or URL")->required();
  add_remote(*diff_command, remote);
  diff_command->add_flag("--entries", diff.entries_only,
                         "compare the directories' entries alone, not the files' contents");
  // Contents are compared by default; the flag that asked for it stays for scripts.
  diff_command
      ->add_flag_callback(
          "--content", [] {}, "compare the files' contents (the default)")
      ->group("");
  add_threads(*diff_command, diff.threads);
  add_json(*diff_command, diff.json);
  add_any_header(*diff_command, diff.any_header);

  CreateOptions create;
  auto* create_command = app.add_subcommand(
      "create", "a new archive of every DIR/TT/XXXXXXXX.bin, as extract writes them");
  create_command->add_option("OUT", create.archive, "the archive to write")->required();
  create_command->add_option("DIR", create.folder, "the folder of files")->required();
  add_writing(*create_command, create.block_size, create.compress, create.force, create.json,
              create.progress,
              "store, fast, best or smaller (default: store, or as --like's files)");
  create_command
      ->add_option(
          "--like", create.like,
          "take the header and each file's timestamp, version and compression from this archive")
      ->option_text("ARCHIVE");

  RepackOptions repack;
  auto* repack_command = app.add_subcommand(
      "repack",
      "every file of an archive into a new one, laid out afresh, with files put or removed");
  repack_command->add_option("IN", repack.input, "the archive to repack: a file or URL")
      ->required();
  add_remote(*repack_command, remote);
  repack_command->add_option("OUT", repack.archive, "the archive to write")->required();
  repack_command
      ->add_option_function<std::vector<std::string>>(
          "--put",
          [&repack](const std::vector<std::string>& texts) {
            for (const auto& text : texts) {
              const auto equals = text.find('=');
              repack.puts.emplace_back(*parse_id(text.substr(0, equals)), text.substr(equals + 1));
            }
          },
          "add or replace file ID with FILE's contents")
      ->check(kPutText)
      ->option_text("ID=FILE")
      ->take_all()
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  repack_command
      ->add_option_function<std::vector<std::string>>(
          "--remove",
          [&repack](const std::vector<std::string>& texts) {
            for (const auto& text : texts) repack.removes.push_back(*parse_id(text));
          },
          "leave file ID out")
      ->check(kIdText)
      ->option_text("ID")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  add_writing(*repack_command, repack.block_size, repack.compress, repack.force, repack.json,
              repack.progress,
              "keep (the stored bytes as they are, the default), store, fast, best or smaller");
  repack_command->add_flag("--skip-unreadable", repack.skip_unreadable,
                           "leave out files that cannot be read, rather than writing nothing");

  for (CLI::App* command : app.get_subcommands([](CLI::App*) { return true; })) {
    command->group("Commands");
  }

  // Otherwise a misspelt command reads as no command at all.
  if (argc > 1 && argv[1][0] != '-' && !names_a_command(app, argv[1])) {
    report_error("unknown command '" + std::string(argv[1]) + "'; the commands are " +
                 command_names(app));
    return ExitStatus::Failure;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    if (error.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) {
      app.exit(error);  // --help or --version
      return ExitStatus::Success;
    }
    report_error(usage_message(app, error));
    return ExitStatus::Failure;
  }

  set_debug_errors(debug);
  set_remote_reading(std::move(remote));
  // Threads not asked for: more of them where an archive is behind a URL.
  for (auto [command, threads, remote_archive] :
       {std::tuple{extract_command, &extract.threads, is_http_url(extract.archive)},
        std::tuple{diff_command, &diff.threads,
                   is_http_url(diff.old_archive) || is_http_url(diff.new_archive)}}) {
    if (command->parsed() && command->get_option("--threads")->count() == 0) {
      *threads = default_threads(remote_archive);
    }
  }
  if (info_command->parsed()) return run_info(info);
  if (ls_command->parsed()) return run_ls(ls);
  if (cat_command->parsed()) return run_cat(cat);
  if (extract_command->parsed()) return run_extract(extract);
  if (sound_command->parsed()) return run_sound(sound);
  if (resolve_command->parsed()) return run_resolve(resolve);
  if (verify_command->parsed()) return run_verify(verify);
  if (create_command->parsed()) return run_create(create);
  if (repack_command->parsed()) return run_repack(repack);
  return run_diff(diff);
}

}  // namespace brackwater_dat::cli
