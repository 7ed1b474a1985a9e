#include "command_line.hpp"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <brackwater_dat/version.hpp>
#include <exception>

#include "cat_command.hpp"
#include "diff_command.hpp"
#include "extract_command.hpp"
#include "ids.hpp"
#include "info_command.hpp"
#include "ls_command.hpp"
#include "parallel.hpp"
#include "sound_command.hpp"
#include "verify_command.hpp"

namespace brackwater_dat::cli {
namespace {

const CLI::Validator kIdText(
    [](const std::string& text) {
      return parse_id(text) ? std::string()
                            : "'" + text + "' is not an id: use 0x and hex digits, or decimal";
    },
    "ID");

const CLI::Validator kTypeText(
    [](const std::string& text) {
      return parse_type(text) ? std::string()
                              : "'" + text + "' is not a file type: use two hex digits, as 0A";
    },
    "TT");

void add_archive(CLI::App& command, std::string& archive) {
  command.add_option("ARCHIVE", archive, "the DAT archive")->required();
}

void add_json(CLI::App& command, bool& json) {
  command.add_flag("--json", json, "print JSON instead of text");
}

void add_id(CLI::App& command, const std::string& name, std::uint32_t& id,
            const std::string& description) {
  command
      .add_option_function<std::string>(
          name, [&id](const std::string& text) { id = *parse_id(text); }, description)
      ->check(kIdText)
      ->required();
}

void add_kinds(CLI::App& command, std::vector<std::uint32_t>& kinds,
               const std::string& description) {
  command
      .add_option_function<std::vector<std::string>>(
          "KIND",
          [&kinds](const std::vector<std::string>& texts) {
            for (const auto& text : texts) kinds.push_back(*parse_id(text));
          },
          description)
      ->check(kIdText);
}

void add_type(CLI::App& command, std::optional<std::uint8_t>& type) {
  command
      .add_option_function<std::string>(
          "--type", [&type](const std::string& text) { type = *parse_type(text); },
          "only files of this type, as 0A or 0x0A")
      ->check(kTypeText);
}

void add_progress(CLI::App& command, std::optional<bool>& progress) {
  auto* on = command.add_flag_callback(
      "--progress", [&progress] { progress = true; },
      "show a progress line on standard error (the default on a terminal)");
  auto* off = command.add_flag_callback(
      "--no-progress", [&progress] { progress = false; }, "never show the progress line");
  on->excludes(off);
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

}  // namespace

ExitStatus run_command_line(int argc, char** argv) {
  CLI::App app("Lists, extracts, inspects, checks and compares the game client's DAT archives.",
               "brackwater-dat");
  app.set_version_flag("--version", "brackwater-dat " + std::string(version()));
  app.require_subcommand(1);

  InfoOptions info;
  auto* info_command = app.add_subcommand(
      "info", "the archive's header, number of files, compressed files, stored bytes and types");
  add_archive(*info_command, info.archive);
  add_json(*info_command, info.json);

  LsOptions ls;
  auto* ls_command = app.add_subcommand("ls", "every file sorted by id, one line each");
  add_archive(*ls_command, ls.archive);
  add_type(*ls_command, ls.type);
  add_json(*ls_command, ls.json);

  CatOptions cat;
  auto* cat_command = app.add_subcommand("cat", "a file's contents to standard output");
  add_archive(*cat_command, cat.archive);
  add_id(*cat_command, "ID", cat.id, "the file's id, as 0x0A000262 or decimal");
  cat_command->add_flag("--raw", cat.raw, "the stored bytes, not decompressed");
  cat_command->add_flag("--force", cat.force, "write even to a terminal");

  ExtractOptions extract;
  extract.threads = default_threads();
  auto* extract_command =
      app.add_subcommand("extract", "every file (or one type) to DIR/TT/XXXXXXXX.bin");
  add_archive(*extract_command, extract.archive);
  extract_command->add_option("DIR", extract.folder, "the folder to extract into")->required();
  add_type(*extract_command, extract.type);
  extract_command->add_flag("--raw", extract.raw, "the stored bytes, not decompressed");
  extract_command
      ->add_option("--threads", extract.threads, "threads to use (default: the hardware's)")
      ->check(CLI::Range(1u, 1024u));
  extract_command->add_flag("--force", extract.force, "overwrite files that exist");
  add_progress(*extract_command, extract.progress);

  SoundOptions sound;
  auto* sound_command = app.add_subcommand("sound", "a decoded sound table");
  add_archive(*sound_command, sound.archive);
  add_id(*sound_command, "TABLE_ID", sound.table, "the sound table's id, as 0x20000001");
  add_kinds(*sound_command, sound.kinds, "only these sound kinds");
  add_json(*sound_command, sound.json);

  ResolveOptions resolve;
  auto* resolve_command = app.add_subcommand("resolve", "the wave each sound kind plays");
  add_archive(*resolve_command, resolve.archive);
  add_id(*resolve_command, "TABLE_ID", resolve.table, "the sound table's id, as 0x20000001");
  add_kinds(*resolve_command, resolve.kinds, "the sound kinds, as 0x58 or decimal");
  resolve_command->get_option("KIND")->required();

  VerifyOptions verify;
  auto* verify_command = app.add_subcommand(
      "verify", "read every file and report unreadable, short, shared or early-ending ones");
  add_archive(*verify_command, verify.archive);
  add_json(*verify_command, verify.json);
  add_progress(*verify_command, verify.progress);

  DiffOptions diff;
  auto* diff_command = app.add_subcommand("diff", "files added, removed and changed");
  diff_command->add_option("OLD", diff.old_archive, "the older archive")->required();
  diff_command->add_option("NEW", diff.new_archive, "the newer archive")->required();
  diff_command->add_flag("--content", diff.content, "compare the files' contents too");
  add_json(*diff_command, diff.json);

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
    report_error(error.what());
    return ExitStatus::Failure;
  }

  if (info_command->parsed()) return run_info(info);
  if (ls_command->parsed()) return run_ls(ls);
  if (cat_command->parsed()) return run_cat(cat);
  if (extract_command->parsed()) return run_extract(extract);
  if (sound_command->parsed()) return run_sound(sound);
  if (resolve_command->parsed()) return run_resolve(resolve);
  if (verify_command->parsed()) return run_verify(verify);
  return run_diff(diff);
}

}  // namespace brackwater_dat::cli
