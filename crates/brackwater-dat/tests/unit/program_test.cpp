// Runs resolve_sound_parity itself and reads its report.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "support/subprocess.hpp"
#include "support/temp_dir.hpp"

namespace {

using brackwater_dat::test_support::EnvChange;
using brackwater_dat::test_support::ProcessResult;
using brackwater_dat::test_support::run_process;
using ::testing::HasSubstr;

const std::filesystem::path kSynthetic = SYNTHETIC_RETAIL_DIR;

std::filesystem::path archive(const std::string& variant) {
  return kSynthetic / variant / "client_portal.dat";
}

std::string without_timing(const std::string& report) {
  return std::regex_replace(report, std::regex(R"(finished in \d+\.\d\ds)"), "finished in T");
}

ProcessResult run_parity(std::vector<std::string> args, std::vector<EnvChange> env = {},
                         std::optional<std::string> working_directory = {}) {
  args.insert(args.begin(), RESOLVE_SOUND_PARITY_PATH);
  return run_process(args, {.env = std::move(env), .working_directory = working_directory});
}

ProcessResult run_goldens(std::optional<std::string> portal,
                          std::optional<std::string> working_directory = {}) {
  return run_parity({"rust_resolve_sound_matches_pinned_goldens", "--nocapture"},
                    {{"AC_BASE_PORTAL_DAT", std::move(portal)}}, std::move(working_directory));
}

bool fixed_archive_paths_exist() {
  return std::filesystem::exists("/home/kestrelbox/ac_base_dats/client_portal.dat") ||
         std::filesystem::exists(
             "/home/kestrelbox/projects/BaselineRig/dats/base/client_portal.dat");
}

constexpr std::string_view kSkipLine = "SKIP — no retail client_portal.dat available\n";

TEST(ResolveSoundParity, RunsEveryCheck) {
  if (fixed_archive_paths_exist()) GTEST_SKIP() << "a retail archive is installed here";
  const auto result = run_parity({"--test-threads", "1"}, {{"AC_BASE_PORTAL_DAT", std::nullopt}});
  EXPECT_EQ(without_timing(result.out),
            "\n"
            "running 3 tests\n"
            "test js_resolve_sound_first_body_matches_rust ... ok\n"
            "test rust_resolve_sound_matches_pinned_goldens ... ok\n"
            "test rust_vs_csharp_full_enum_cardinality ... ok\n"
            "\n"
            "test result: ok. 3 passed; 0 failed; 0 ignored; 0 measured; 0 filtered out; "
            "finished in T\n"
            "\n");
  EXPECT_EQ(result.exit_code, 0);
}

TEST(ResolveSoundParity, UnmatchedFilterRunsNothing) {
  const auto result = run_parity({"zzz"});
  EXPECT_EQ(without_timing(result.out),
            "\n"
            "running 0 tests\n"
            "\n"
            "test result: ok. 0 passed; 0 failed; 0 ignored; 0 measured; 3 filtered out; "
            "finished in T\n"
            "\n");
  EXPECT_EQ(result.exit_code, 0);
}

TEST(PinnedGoldens, SyntheticRetailArchivePasses) {
  const auto result = run_goldens(archive("good").string());
  EXPECT_EQ(result.err, "");
  EXPECT_THAT(result.out, HasSubstr("test rust_resolve_sound_matches_pinned_goldens ... ok\n"));
  EXPECT_EQ(result.exit_code, 0);
}

struct FailureCase {
  std::string variant;
  std::string message;
  // Named in test listings, rather than dumped as bytes.
  friend void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.variant; }
};

class PinnedGoldenFailures : public ::testing::TestWithParam<FailureCase> {};

TEST_P(PinnedGoldenFailures, ReportTheExactText) {
  const auto result =
      run_parity({"pinned"}, {{"AC_BASE_PORTAL_DAT", archive(GetParam().variant).string()}});
  EXPECT_EQ(result.exit_code, 101);
  EXPECT_THAT(result.out,
              HasSubstr(":\n" + GetParam().message +
                        "\n\n\nfailures:\n    rust_resolve_sound_matches_pinned_goldens\n"));
  EXPECT_THAT(result.out, HasSubstr("check 'rust_resolve_sound_matches_pinned_goldens' failed at "
                                    "crates/brackwater-dat/tests/resolve_sound_parity/"
                                    "pinned_goldens_check.cpp:"));
}

INSTANTIATE_TEST_SUITE_P(
    Archives, PinnedGoldenFailures,
    ::testing::Values(
        FailureCase{"missing-swoosh-table", "get_file 0x200000A8: NotFound(536871080)"},
        FailureCase{"enchant-down-drifts",
                    "assertion `left == right` failed: 0x20000001.resolve_sound(0x5B = "
                    "EnchantDown) drift: rust=Some(167772789) expected=Some(167772788)\n"
                    "  left: Some(167772789)\n"
                    " right: Some(167772788)"},
        // Row 2 fails first: rows 3 to 6, and the missing table, are never reached.
        FailureCase{"enchant-down-drifts-no-swoosh",
                    "assertion `left == right` failed: 0x20000001.resolve_sound(0x5B = "
                    "EnchantDown) drift: rust=Some(167772789) expected=Some(167772788)\n"
                    "  left: Some(167772789)\n"
                    " right: Some(167772788)"},
        FailureCase{"ambient-plays",
                    "assertion `left == right` failed: 0x20000001.resolve_sound(0x46 = "
                    "Ambient1) drift: rust=Some(167772230) expected=None\n"
                    "  left: Some(167772230)\n"
                    " right: None"},
        FailureCase{"invalid-plays",
                    "assertion `left == right` failed: 0x20000001.resolve_sound(0xFFFFFFFF = "
                    "Invalid) drift: rust=Some(167837695) expected=None\n"
                    "  left: Some(167837695)\n"
                    " right: None"},
        FailureCase{"truncated-shield-table", "unpack 0x20000001: failed to fill whole buffer"}),
    [](const auto& info) {
      std::string name = info.param.variant;
      std::erase(name, '-');
      return name;
    });

TEST(PinnedGoldens, DirectoryAsArchiveFailsToOpen) {
  const auto result = run_goldens(kSynthetic.string());
  EXPECT_EQ(result.exit_code, 101);
  EXPECT_THAT(result.err,
              HasSubstr(":\nopen retail dat: PathError { path: \"" + kSynthetic.string() +
                        "\", source: Os { code: 21, kind: IsADirectory, message: "
                        "\"Is a directory\" } }\n"));
}

TEST(PinnedGoldens, RelativePathAndSymbolicLinkAreFollowed) {
  const auto relative = run_goldens("good/client_portal.dat", kSynthetic.string());
  EXPECT_EQ(relative.err, "");
  EXPECT_EQ(relative.exit_code, 0);

  brackwater_dat::test_support::TempDir dir;
  std::filesystem::create_symlink(archive("enchant-down-drifts"), dir / "link.dat");
  const auto linked = run_goldens((dir / "link.dat").string());
  EXPECT_THAT(linked.err, HasSubstr("drift: rust=Some(167772789)"));
  EXPECT_EQ(linked.exit_code, 101);
}

struct SkipCase {
  std::string name;
  std::optional<std::string> portal;  // relative ones are taken inside a scratch folder
  // Named in test listings, rather than dumped as bytes.
  friend void PrintTo(const SkipCase& c, std::ostream* os) { *os << c.name; }
};

class PinnedGoldenSkips : public ::testing::TestWithParam<SkipCase> {};

TEST_P(PinnedGoldenSkips, WriteTheSkipLineAndPass) {
  if (fixed_archive_paths_exist()) GTEST_SKIP() << "a retail archive is installed here";
  brackwater_dat::test_support::TempDir dir;
  // Were the invalid name taken, it would find an archive and print nothing.
  std::filesystem::copy_file(archive("good"), dir / "\xff.dat");
  std::filesystem::create_symlink(dir / "gone.dat", dir / "dangling.dat");
  const auto result = run_goldens(GetParam().portal, dir.path().string());
  EXPECT_EQ(result.err, kSkipLine);
  EXPECT_THAT(result.out, HasSubstr("test rust_resolve_sound_matches_pinned_goldens ... ok\n"));
  EXPECT_EQ(result.exit_code, 0);
}

INSTANTIATE_TEST_SUITE_P(Environment, PinnedGoldenSkips,
                         ::testing::Values(SkipCase{"Unset", std::nullopt}, SkipCase{"Empty", ""},
                                           SkipCase{"Missing", "no/such/client_portal.dat"},
                                           SkipCase{"NotUtf8", "\xff.dat"},
                                           SkipCase{"DanglingLink", "dangling.dat"}),
                         [](const auto& info) { return info.param.name; });

}  // namespace
