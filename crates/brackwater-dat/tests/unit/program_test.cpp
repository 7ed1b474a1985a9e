// Runs resolve_sound_parity itself and reads its report.
#include <gtest/gtest.h>

#include <regex>

#include "support/subprocess.hpp"

namespace {

using brackwater_dat::test_support::run_process;

std::string without_timing(const std::string& report) {
  return std::regex_replace(report, std::regex(R"(finished in \d+\.\d\ds)"), "finished in T");
}

TEST(ResolveSoundParity, RunsEveryCheck) {
  const auto result = run_process({RESOLVE_SOUND_PARITY_PATH});
  EXPECT_EQ(without_timing(result.out),
            "\n"
            "running 1 test\n"
            "test js_resolve_sound_first_body_matches_rust ... ok\n"
            "\n"
            "test result: ok. 1 passed; 0 failed; 0 ignored; 0 measured; 0 filtered out; "
            "finished in T\n"
            "\n");
  EXPECT_EQ(result.exit_code, 0);
}

TEST(ResolveSoundParity, UnmatchedFilterRunsNothing) {
  const auto result = run_process({RESOLVE_SOUND_PARITY_PATH, "zzz"});
  EXPECT_EQ(without_timing(result.out),
            "\n"
            "running 0 tests\n"
            "\n"
            "test result: ok. 0 passed; 0 failed; 0 ignored; 0 measured; 1 filtered out; "
            "finished in T\n"
            "\n");
  EXPECT_EQ(result.exit_code, 0);
}

}  // namespace
