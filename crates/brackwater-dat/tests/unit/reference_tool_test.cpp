// Runs resolve_sound_parity against the synthetic retail archive and the
// stand-in reference tool.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/subprocess.hpp"
#include "support/temp_dir.hpp"

namespace {

using brackwater_dat::test_support::EnvChange;
using brackwater_dat::test_support::ProcessResult;
using brackwater_dat::test_support::run_process;
using brackwater_dat::test_support::TempDir;
using ::testing::HasSubstr;

const std::filesystem::path kGood = std::filesystem::path(SYNTHETIC_RETAIL_DIR) / "good";
const std::string kStandIn = STAND_IN_DOTNET_DIR;

constexpr std::string_view kNoArchive = "SKIP — no retail client_portal.dat available\n";
constexpr std::string_view kNoHost = "SKIP — no `dotnet` on PATH or $DOTNET_ROOT\n";
constexpr std::string_view kNoTool =
    "SKIP — Landsmith.Terminal.dll not built. Run `dotnet build -c Release "
    "Landsmith.Terminal/Landsmith.Terminal.csproj`.\n";

bool fixed_locations_exist() {
  for (const char* path :
       {"/home/kestrelbox/ac_base_dats/client_portal.dat",
        "/home/kestrelbox/projects/BaselineRig/dats/base/client_portal.dat",
        "/home/kestrelbox/.dotnet/dotnet",
        "/home/kestrelbox/Landsmith-ORCA-Edition/Landsmith.Terminal/bin/Release/net8.0/"
        "Landsmith.Terminal.dll",
        "/home/kestrelbox/Landsmith-ORCA-Edition/Landsmith.Terminal/bin/Debug/net8.0/"
        "Landsmith.Terminal.dll"}) {
    if (std::filesystem::exists(path)) return true;
  }
  return false;
}

// The PASS line that the answers of the good archive call for.
std::string pass_line() {
  std::ifstream answers(kGood / "answers.txt");
  std::size_t hits = 0, none = 0;
  std::string table, sound, wave;
  while (answers >> table >> sound >> wave) (wave == "none" ? none : hits) += 1;
  return "[resolve_sound_parity] Rust vs C# PASS: " + std::to_string(hits) + " hits + " +
         std::to_string(none) + " both-None = 410 pairs across 2 tables × (204+1) enums\n";
}

class ReferenceTool : public ::testing::Test {
 protected:
  void SetUp() override {
    if (fixed_locations_exist()) GTEST_SKIP() << "a real archive or tool is installed here";
    std::ofstream(dir_ / "Landsmith.Terminal.dll");
    std::filesystem::create_directory(dir_ / "empty");
  }

  // Every input present; `changes` then adjust the environment.
  ProcessResult run(std::vector<EnvChange> changes, std::vector<std::string> args = {"rust_vs"},
                    std::optional<std::string> working_directory = {}) {
    std::vector<EnvChange> env = {
        {"AC_BASE_PORTAL_DAT", (kGood / "client_portal.dat").string()},
        {"DOTNET_ROOT", kStandIn},
        {"LS_TERMINAL_DLL", (dir_ / "Landsmith.Terminal.dll").string()},
        {"STAND_IN_ANSWERS", (kGood / "answers.txt").string()},
        {"STAND_IN_MODE", "agree"},
    };
    env.insert(env.end(), changes.begin(), changes.end());
    args.insert(args.begin(), RESOLVE_SOUND_PARITY_PATH);
    args.push_back("--nocapture");
    return run_process(args, {.env = env, .working_directory = working_directory});
  }

  TempDir dir_;
};

TEST_F(ReferenceTool, AgreementPrintsThePassLine) {
  const auto result = run({});
  EXPECT_EQ(result.err, pass_line());
  EXPECT_EQ(result.exit_code, 0);
}

TEST_F(ReferenceTool, AllThreeChecksRunForReal) {
  const auto result = run({}, {});
  EXPECT_THAT(result.out, HasSubstr("\nrunning 3 tests\n"));
  for (const char* name :
       {"js_resolve_sound_first_body_matches_rust", "rust_resolve_sound_matches_pinned_goldens",
        "rust_vs_csharp_full_enum_cardinality"}) {
    EXPECT_THAT(result.out, HasSubstr(std::string("test ") + name + " ... ok\n"));
  }
  EXPECT_THAT(result.out,
              HasSubstr("test result: ok. 3 passed; 0 failed; 0 ignored; 0 measured; 0 filtered"));
  EXPECT_EQ(result.err, pass_line());  // and no SKIP line
  EXPECT_EQ(result.exit_code, 0);
}

TEST_F(ReferenceTool, InputIsTheWholeBatch) {
  const auto record = dir_ / "input.txt";
  run({{"STAND_IN_RECORD", record.string()}});
  std::ifstream file(record, std::ios::binary);
  const std::string input{std::istreambuf_iterator<char>(file), {}};
  EXPECT_EQ(input.size(), 32189u);
  EXPECT_EQ(std::ranges::count(input, '\n'), 411);
  EXPECT_TRUE(input.starts_with(
      "{\"command\":\"marlstone-resolve-sound\",\"soundTableDid\":\"0x20000001\",\"sound\":0}\n"
      "{\"command\":\"marlstone-resolve-sound\",\"soundTableDid\":\"0x20000001\",\"sound\":1}\n"));
  EXPECT_TRUE(input.ends_with(
      "{\"command\":\"marlstone-resolve-sound\",\"soundTableDid\":\"0x200000A8\",\"sound\":204}\n"
      "{\"command\":\"quit\"}\n"));
  EXPECT_THAT(input, HasSubstr("\"sound\":204}\n{\"command\":\"marlstone-resolve-sound\","
                               "\"soundTableDid\":\"0x200000A8\",\"sound\":0}\n"));
}

struct ModeCase {
  std::string mode;
  std::string err;  // expected in standard error; empty: the PASS line exactly
  int exit_code;
  // Named in test listings, rather than dumped as bytes.
  friend void PrintTo(const ModeCase& c, std::ostream* os) { *os << c.mode; }
};

class ReferenceToolModes : public ReferenceTool, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(ReferenceToolModes, Outcome) {
  const auto result = run({{"STAND_IN_MODE", GetParam().mode}});
  if (GetParam().err.empty()) {
    EXPECT_EQ(result.err, pass_line());
  } else {
    EXPECT_THAT(result.err, HasSubstr(GetParam().err));
    EXPECT_THAT(result.err, HasSubstr("check 'rust_vs_csharp_full_enum_cardinality' failed at "
                                      "crates/brackwater-dat/tests/resolve_sound_parity/"
                                      "reference_tool_check.cpp:"));
  }
  EXPECT_EQ(result.exit_code, GetParam().exit_code);
}

INSTANTIATE_TEST_SUITE_P(
    StandIn, ReferenceToolModes,
    ::testing::Values(
        ModeCase{"noise", "", 0}, ModeCase{"null-waves", "", 0}, ModeCase{"flood", "", 0},
        ModeCase{"flood-first", "", 0},
        ModeCase{"drift",
                 "DRIFT: 0x20000001.resolve_sound(0x46): rust=None cs=Some(167772415) "
                 "cs_source=Some(\"tab\\there back\\\\slash\")\n"
                 "DRIFT: 0x20000001.resolve_sound(0x58): rust=Some(167772770) cs=None "
                 "cs_source=Some(\"stand-in answers.txt\")\n"
                 "DRIFT: 0x200000A8.resolve_sound(0x1F): rust=Some(167773465) cs=Some(167773472) "
                 "cs_source=None\n"
                 "check 'rust_vs_csharp_full_enum_cardinality' failed at",
                 101},
        ModeCase{"drift",
                 ":\n3 drifts (out of 410 pairs). Re-read vudodode.c:383433 to determine which "
                 "port broke.\n",
                 101},
        ModeCase{"short",
                 ":\nassertion `left == right` failed: C# response count 409 != Rust input count "
                 "410\n  left: 409\n right: 410\n",
                 101},
        ModeCase{"exit-1",
                 ":\nLS.Terminal: \"LS.Terminal non-zero exit: ExitStatus(unix_wait_status(256))"
                 "\\nstderr: stand-in failed: \xEF\xBF\xBD bad byte, \\\"quoted\\\", "
                 "back\\\\slash\\ttab\\n\"\n",
                 101},
        ModeCase{"signal",
                 ":\nLS.Terminal: \"LS.Terminal non-zero exit: ExitStatus(unix_wait_status(9))"
                 "\\nstderr: \"\n",
                 101}),
    [](const auto& info) {
      std::string name = info.param.mode + std::to_string(info.index);
      std::erase(name, '-');
      return name;
    });

TEST_F(ReferenceTool, EachSkipEndsTheSearch) {
  // The tool would record its input if it were started; an archive that is a
  // directory would fail the check if it were opened.
  const auto record = dir_ / "input.txt";
  const std::string empty = (dir_ / "empty").string();
  const auto no_archive =
      run({{"AC_BASE_PORTAL_DAT", std::nullopt}, {"STAND_IN_RECORD", record.string()}});
  EXPECT_EQ(no_archive.err, kNoArchive);
  const auto no_host = run({{"AC_BASE_PORTAL_DAT", empty},
                            {"DOTNET_ROOT", std::nullopt},
                            {"HOME", empty},
                            {"PATH", empty},
                            {"STAND_IN_RECORD", record.string()}});
  EXPECT_EQ(no_host.err, kNoHost);
  const auto no_tool = run({{"AC_BASE_PORTAL_DAT", empty},
                            {"LS_TERMINAL_DLL", std::nullopt},
                            {"STAND_IN_RECORD", record.string()}});
  EXPECT_EQ(no_tool.err, kNoTool);
  for (const auto* result : {&no_archive, &no_host, &no_tool}) EXPECT_EQ(result->exit_code, 0);
  EXPECT_FALSE(std::filesystem::exists(record));
}

TEST_F(ReferenceTool, UnusableToolVariableFallsBack) {
  for (const std::string& value : {std::string(""), (dir_ / "gone.dll").string(),
                                   (dir_ / "Landsmith.Terminal.dll\xff").string()}) {
    const auto result = run({{"LS_TERMINAL_DLL", value}});
    EXPECT_EQ(result.err, kNoTool) << value;
    EXPECT_EQ(result.exit_code, 0);
  }
}

TEST_F(ReferenceTool, HostThatIsADirectoryFailsToStart) {
  std::filesystem::create_directory(dir_ / "dotnet");
  const auto result = run({{"DOTNET_ROOT", dir_.path().string()}});
  EXPECT_THAT(result.err, HasSubstr(":\nLS.Terminal: \"spawn LS.Terminal: Permission denied (os "
                                    "error 13)\"\n"));
  EXPECT_EQ(result.exit_code, 101);
}

TEST_F(ReferenceTool, DotnetRootWithoutHostGoesOnToPath) {
  const auto result = run({{"DOTNET_ROOT", (dir_ / "empty").string()},
                           {"HOME", (dir_ / "empty").string()},
                           {"PATH", "/nonexistent:" + kStandIn}});
  EXPECT_EQ(result.err, pass_line());
  EXPECT_EQ(result.exit_code, 0);
}

TEST_F(ReferenceTool, EmptyDotnetRootMeansTheBareName) {
  // Found as "dotnet" in the working directory, started through PATH.
  const auto through_path = run({{"DOTNET_ROOT", ""}, {"PATH", kStandIn}}, {"rust_vs"}, kStandIn);
  EXPECT_EQ(through_path.err, pass_line());
  const auto not_on_path =
      run({{"DOTNET_ROOT", ""}, {"PATH", (dir_ / "empty").string()}}, {"rust_vs"}, kStandIn);
  EXPECT_THAT(not_on_path.err, HasSubstr(":\nLS.Terminal: \"spawn LS.Terminal: No such file or "
                                         "directory (os error 2)\"\n"));
  EXPECT_EQ(not_on_path.exit_code, 101);
}

TEST_F(ReferenceTool, TrailingColonInPathMeansTheWorkingDirectory) {
  const auto result = run({{"DOTNET_ROOT", std::nullopt},
                           {"HOME", (dir_ / "empty").string()},
                           {"PATH", "/nonexistent:"}},
                          {"rust_vs"}, kStandIn);
  EXPECT_EQ(result.err, pass_line());
  EXPECT_EQ(result.exit_code, 0);
}

TEST_F(ReferenceTool, StandInWithoutItsAnswersSaysSoInsteadOfAnswering) {
  const auto result = run({{"STAND_IN_ANSWERS", std::nullopt}});
  EXPECT_EQ(result.exit_code, 101);
  EXPECT_THAT(result.err,
              ::testing::HasSubstr("stand-in dotnet: no answers file; set STAND_IN_ANSWERS to the "
                                   "synthetic archive's answers.txt"));
  EXPECT_THAT(result.err, ::testing::Not(::testing::HasSubstr("DRIFT")));
}

}  // namespace
