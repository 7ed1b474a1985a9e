// A check program with one check of every outcome, run by runner_test.cpp.
#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "runner/capture.hpp"
#include "runner/failure.hpp"
#include "runner/runner.hpp"

namespace {

namespace runner = brackwater_dat::runner;

// With RUNNER_DEMO_LINES=n a check also writes n numbered lines to each
// stream, every line in pieces, so that checks side by side have lines to tear.
void chatter(const char* who) {
  const char* lines = std::getenv("RUNNER_DEMO_LINES");
  for (int i = 0, n = lines ? std::atoi(lines) : 0; i < n; ++i) {
    runner::out() << who << " line " << i << " of " << n << '\n';
    runner::err() << who << " line " << i << " of " << n << '\n';
  }
}

void fails_with_message() {
  chatter("fails");
  runner::out() << "fail-out\n";
  runner::fail("the message\nsecond line");
}

void expected_failure_matches() { runner::fail("boom: expected"); }

void expected_failure_missing() { runner::out() << "returned normally\n"; }

void ignored_until_fixed() { runner::fail("an ignored check never runs"); }

void passes() {
  chatter("passes");
  runner::out() << "pass-out\n";
}

// The two rendezvous checks pass only when they run at the same time.
std::atomic<int> arrived{0};

void meet_partner() {
  ++arrived;
  const char* patience = std::getenv("RENDEZVOUS_PATIENCE_MS");
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(patience ? std::atoi(patience) : 30'000);
  while (arrived.load() < 2) {
    if (std::chrono::steady_clock::now() > deadline) runner::fail("partner never arrived");
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void rendezvous_a() { meet_partner(); }

void rendezvous_b() { meet_partner(); }

void skips_without_input() {
  chatter("skips");
  runner::err() << "SKIP — no input available\n";
}

void throws_plain_exception() { throw std::runtime_error("plain exception text"); }

constexpr std::array kChecks = {
    runner::CheckDescriptor{
        .name = "expected_failure_matches",
        .expected_failure = {.mode = runner::ExpectedFailure::Mode::WithMessage, .message = "boom"},
        .kind = runner::CheckKind::Unit,
        .function = &expected_failure_matches},
    runner::CheckDescriptor{.name = "expected_failure_missing",
                            .expected_failure = {.mode = runner::ExpectedFailure::Mode::Any},
                            .kind = runner::CheckKind::Unit,
                            .function = &expected_failure_missing},
    runner::integration_check("fails_with_message", &fails_with_message),
    runner::CheckDescriptor{.name = "ignored_until_fixed",
                            .ignore = true,
                            .ignore_message = "needs a fixture",
                            .kind = runner::CheckKind::Unit,
                            .function = &ignored_until_fixed},
    runner::integration_check("passes", &passes),
    runner::integration_check("rendezvous_a", &rendezvous_a),
    runner::integration_check("rendezvous_b", &rendezvous_b),
    runner::integration_check("skips_without_input", &skips_without_input),
    runner::integration_check("throws_plain_exception", &throws_plain_exception),
};

}  // namespace

int main(int argc, char** argv) { return runner::run_checks(argc, argv, kChecks); }
