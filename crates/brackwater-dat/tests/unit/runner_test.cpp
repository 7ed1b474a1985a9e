// Runs the demo check program as a user would and reads its report.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "support/subprocess.hpp"

namespace {

using brackwater_dat::test_support::ProcessResult;
using brackwater_dat::test_support::run_process;
using ::testing::HasSubstr;
using ::testing::Not;

ProcessResult run_demo(std::vector<std::string> args,
                       std::vector<brackwater_dat::test_support::EnvChange> env = {}) {
  args.insert(args.begin(), RUNNER_DEMO_PATH);
  return run_process(args, {.env = std::move(env)});
}

// The report with its timing and the demo's source positions made constant.
std::string normalized(std::string report) {
  report = std::regex_replace(report, std::regex(R"(finished in \d+\.\d\ds)"), "finished in T");
  return std::regex_replace(report, std::regex(R"(runner_demo_main\.cpp:\d+:\d+:)"),
                            "runner_demo_main.cpp:L:C:");
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

std::set<std::string> result_lines(const std::string& report) {
  std::set<std::string> results;
  for (const auto& line : lines_of(report)) {
    if (line.starts_with("test ") && !line.starts_with("test result:")) results.insert(line);
  }
  return results;
}

TEST(Runner, SequentialReportIsExact) {
  const auto result = run_demo({"--skip", "rendezvous", "--test-threads", "1"});
  EXPECT_EQ(result.exit_code, 101);
  EXPECT_EQ(normalized(result.out),
            "\n"
            "running 7 tests\n"
            "test expected_failure_matches - should fail ... ok\n"
            "test expected_failure_missing - should fail ... FAILED\n"
            "test fails_with_message ... FAILED\n"
            "test ignored_until_fixed ... ignored, needs a fixture\n"
            "test passes ... ok\n"
            "test skips_without_input ... ok\n"
            "test throws_plain_exception ... FAILED\n"
            "\n"
            "failures:\n"
            "\n"
            "---- expected_failure_missing stdout ----\n"
            "returned normally\n"
            "note: check did not fail as expected\n"
            "\n"
            "---- fails_with_message stdout ----\n"
            "fail-out\n"
            "check 'fails_with_message' failed at "
            "crates/brackwater-dat/tests/unit/runner_demo_main.cpp:L:C:\n"
            "the message\n"
            "second line\n"
            "\n"
            "---- throws_plain_exception stdout ----\n"
            "check 'throws_plain_exception' failed with an uncaught exception:\n"
            "plain exception text\n"
            "\n"
            "\n"
            "failures:\n"
            "    expected_failure_missing\n"
            "    fails_with_message\n"
            "    throws_plain_exception\n"
            "\n"
            "test result: FAILED. 3 passed; 3 failed; 1 ignored; 0 measured; 2 filtered out; "
            "finished in T\n"
            "\n");
  EXPECT_EQ(result.err, "");
}

// The 1-based number of the first line of `path` that contains `text`.
int line_of(const std::string& path, std::string_view text) {
  std::ifstream file(path);
  int number = 1;
  for (std::string line; std::getline(file, line); ++number) {
    if (line.find(text) != std::string::npos) return number;
  }
  return 0;
}

TEST(Runner, FailurePositionIsTheRaisingLine) {
  const auto result = run_demo({"fails_with_message"});
  std::smatch match;
  ASSERT_TRUE(std::regex_search(result.out, match, std::regex(R"(runner_demo_main\.cpp:(\d+):)")));
  EXPECT_EQ(std::stoi(match[1]), line_of(RUNNER_DEMO_SOURCE, "runner::fail(\"the message"));
}

TEST(Runner, ParallelChecksKeepTheirOutputApart) {
  const auto result = run_demo({});
  EXPECT_EQ(result.exit_code, 101);
  const std::string report = normalized(result.out);
  EXPECT_TRUE(report.starts_with("\nrunning 9 tests\n")) << report;
  EXPECT_THAT(report, HasSubstr("\n---- fails_with_message stdout ----\n"
                                "fail-out\n"
                                "check 'fails_with_message' failed at "
                                "crates/brackwater-dat/tests/unit/runner_demo_main.cpp:L:C:\n"
                                "the message\nsecond line\n\n"));
  EXPECT_THAT(report, HasSubstr("\n---- expected_failure_missing stdout ----\n"
                                "returned normally\n"
                                "note: check did not fail as expected\n\n"));
  EXPECT_THAT(report,
              HasSubstr("\n---- throws_plain_exception stdout ----\n"
                        "check 'throws_plain_exception' failed with an uncaught exception:\n"
                        "plain exception text\n\n"));
  EXPECT_THAT(report, HasSubstr("test rendezvous_a ... ok\n"));
  EXPECT_THAT(report, HasSubstr("test rendezvous_b ... ok\n"));
  EXPECT_TRUE(
      report.ends_with("\ntest result: FAILED. 5 passed; 3 failed; 1 ignored; 0 measured; "
                       "0 filtered out; finished in T\n\n"))
      << report;
}

struct SelectionCase {
  std::vector<std::string> args;
  friend void PrintTo(const SelectionCase& c, std::ostream* os) {
    *os << ::testing::PrintToString(c.args);
  }
  std::string header;
  std::set<std::string> results;
  std::string summary;
  int exit_code;
};

class RunnerSelection : public ::testing::TestWithParam<SelectionCase> {};

TEST_P(RunnerSelection, SelectsReportsAndExits) {
  const auto& c = GetParam();
  const auto result = run_demo(c.args);
  const std::string report = normalized(result.out);
  EXPECT_TRUE(report.starts_with("\n" + c.header + "\n")) << report;
  EXPECT_EQ(result_lines(report), c.results);
  EXPECT_THAT(report, HasSubstr("\ntest result: " + c.summary + "; finished in T\n"));
  EXPECT_EQ(result.exit_code, c.exit_code);
}

INSTANTIATE_TEST_SUITE_P(
    Filters, RunnerSelection,
    ::testing::Values(
        SelectionCase{{"zzz"},
                      "running 0 tests",
                      {},
                      "ok. 0 passed; 0 failed; 0 ignored; 0 measured; 9 filtered out",
                      0},
        SelectionCase{{"passes"},
                      "running 1 test",
                      {"test passes ... ok"},
                      "ok. 1 passed; 0 failed; 0 ignored; 0 measured; 8 filtered out",
                      0},
        SelectionCase{{"pass", "skips"},
                      "running 2 tests",
                      {"test passes ... ok", "test skips_without_input ... ok"},
                      "ok. 2 passed; 0 failed; 0 ignored; 0 measured; 7 filtered out",
                      0},
        SelectionCase{{"--exact", "pass"},
                      "running 0 tests",
                      {},
                      "ok. 0 passed; 0 failed; 0 ignored; 0 measured; 9 filtered out",
                      0},
        SelectionCase{{"--exact", "passes", "skips"},
                      "running 1 test",
                      {"test passes ... ok"},
                      "ok. 1 passed; 0 failed; 0 ignored; 0 measured; 8 filtered out",
                      0},
        SelectionCase{
            {"--skip", "fail", "--skip=rendezvous"},
            "running 4 tests",
            {"test ignored_until_fixed ... ignored, needs a fixture", "test passes ... ok",
             "test skips_without_input ... ok", "test throws_plain_exception ... FAILED"},
            "FAILED. 2 passed; 1 failed; 1 ignored; 0 measured; 5 filtered out",
            101},
        SelectionCase{{"--exact", "--skip", "rendezvous", "rendezvous_a", "rendezvous_b"},
                      "running 2 tests",
                      {"test rendezvous_a ... ok", "test rendezvous_b ... ok"},
                      "ok. 2 passed; 0 failed; 0 ignored; 0 measured; 7 filtered out",
                      0},
        SelectionCase{{"--ignored"},
                      "running 1 test",
                      {"test ignored_until_fixed ... FAILED"},
                      "FAILED. 0 passed; 1 failed; 0 ignored; 0 measured; 8 filtered out",
                      101},
        SelectionCase{{"ignored", "--include-ignored"},
                      "running 1 test",
                      {"test ignored_until_fixed ... FAILED"},
                      "FAILED. 0 passed; 1 failed; 0 ignored; 0 measured; 8 filtered out",
                      101},
        SelectionCase{{"rendezvous"},
                      "running 2 tests",
                      {"test rendezvous_a ... ok", "test rendezvous_b ... ok"},
                      "ok. 2 passed; 0 failed; 0 ignored; 0 measured; 7 filtered out",
                      0},
        SelectionCase{{"rendezvous", "--test-threads=2"},
                      "running 2 tests",
                      {"test rendezvous_a ... ok", "test rendezvous_b ... ok"},
                      "ok. 2 passed; 0 failed; 0 ignored; 0 measured; 7 filtered out",
                      0}));

TEST(RunnerCapture, PassingOutputIsDroppedByDefault) {
  const auto result = run_demo({"pass", "skips"});
  EXPECT_THAT(result.out, Not(HasSubstr("pass-out")));
  EXPECT_THAT(result.out, Not(HasSubstr("SKIP")));
  EXPECT_EQ(result.err, "");
}

TEST(RunnerCapture, NocaptureWritesStraightThrough) {
  const auto result = run_demo({"pass", "skips", "fails_with", "--nocapture"});
  EXPECT_THAT(result.out, HasSubstr("pass-out\n"));
  EXPECT_THAT(result.err, HasSubstr("SKIP — no input available\n"));
  EXPECT_THAT(result.err, HasSubstr("check 'fails_with_message' failed at "));
  // Nothing was captured, yet the failed check still gets its block.
  EXPECT_THAT(result.out, HasSubstr("\nfailures:\n\n---- fails_with_message stdout ----\n\n"
                                    "\nfailures:\n    fails_with_message\n"));
  EXPECT_EQ(result.exit_code, 101);
}

TEST(RunnerCapture, NocaptureKeepsLinesOfChecksSideBySideWhole) {
  const auto result =
      run_demo({"pass", "skips", "fails_with", "--nocapture"}, {{"RUNNER_DEMO_LINES", "3000"}});
  // Every line is whole: one of a check's numbered lines, or the runner's own.
  const std::regex numbered(R"((passes|skips|fails) line \d+ of 3000)");
  for (const auto* stream : {&result.out, &result.err}) {
    std::size_t count = 0;
    for (const auto& line : lines_of(*stream)) {
      if (std::regex_match(line, numbered)) {
        ++count;
      } else {
        EXPECT_THAT(line, Not(HasSubstr(" line "))) << "a torn line";
      }
    }
    EXPECT_EQ(count, 3 * 3000u);
  }
  EXPECT_EQ(result.exit_code, 101);
}

TEST(RunnerCapture, ShowOutputPrintsSuccesses) {
  const auto result = run_demo({"pass", "skips", "--show-output", "--test-threads", "1"});
  EXPECT_THAT(result.out, HasSubstr("\nsuccesses:\n"
                                    "\n"
                                    "---- passes stdout ----\n"
                                    "pass-out\n"
                                    "\n"
                                    "---- skips_without_input stdout ----\n"
                                    "SKIP — no input available\n"
                                    "\n"
                                    "\n"
                                    "successes:\n"
                                    "    passes\n"
                                    "    skips_without_input\n"
                                    "\n"
                                    "test result: ok."));
  EXPECT_EQ(result.exit_code, 0);
}

struct BadArgumentsCase {
  std::vector<std::string> args;
  std::string message;
  friend void PrintTo(const BadArgumentsCase& c, std::ostream* os) {
    *os << ::testing::PrintToString(c.args);
  }
};

class RunnerBadArguments : public ::testing::TestWithParam<BadArgumentsCase> {};

TEST_P(RunnerBadArguments, RunNothingAndExit101) {
  const auto result = run_demo(GetParam().args);
  EXPECT_EQ(result.exit_code, 101);
  EXPECT_EQ(result.out, "");
  EXPECT_TRUE(result.err.starts_with("error: " + GetParam().message + "\n")) << result.err;
}

INSTANTIATE_TEST_SUITE_P(
    Options, RunnerBadArguments,
    ::testing::Values(
        BadArgumentsCase{{"--bogus"}, "unrecognized option '--bogus'"},
        BadArgumentsCase{{"--test-threads", "0"},
                         "argument for --test-threads must be a number > 0 (got '0')"},
        BadArgumentsCase{{"--test-threads=x"},
                         "argument for --test-threads must be a number > 0 (got 'x')"},
        BadArgumentsCase{{"--test-threads", "2x"},
                         "argument for --test-threads must be a number > 0 (got '2x')"},
        BadArgumentsCase{{"--test-threads"}, "option --test-threads needs a value"},
        BadArgumentsCase{{"--skip"}, "option --skip needs a value"},
        BadArgumentsCase{{"--ignored", "--include-ignored"},
                         "--ignored and --include-ignored cannot be used together"}));

TEST(Runner, OneThreadRunsChecksOneAtATime) {
  const auto result =
      run_demo({"rendezvous", "--test-threads", "1"}, {{"RENDEZVOUS_PATIENCE_MS", "200"}});
  // Alone, the first gives up waiting; the second then finds it arrived long ago.
  EXPECT_EQ(result_lines(result.out),
            (std::set<std::string>{"test rendezvous_a ... FAILED", "test rendezvous_b ... ok"}));
  EXPECT_THAT(result.out, HasSubstr("partner never arrived"));
  EXPECT_EQ(result.exit_code, 101);
}

TEST(Runner, ListNamesTheSelectedChecks) {
  const auto result = run_demo({"--list", "rendezvous"});
  EXPECT_EQ(result.out, "rendezvous_a: test\nrendezvous_b: test\n\n2 tests, 0 benchmarks\n");
  EXPECT_EQ(result.exit_code, 0);
}

TEST(Runner, HelpPrintsUsage) {
  const auto result = run_demo({"--help"});
  EXPECT_TRUE(result.out.starts_with("Usage: ")) << result.out;
  EXPECT_THAT(result.out, HasSubstr("--test-threads N"));
  EXPECT_EQ(result.exit_code, 0);
}

}  // namespace
