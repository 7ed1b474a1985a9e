#include "runner/runner.hpp"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "runner/capture.hpp"
#include "runner/failure.hpp"
#include "runner/options.hpp"

namespace brackwater_dat::runner {
namespace {

constexpr int kFailureStatus = 101;

enum class Status { Passed, Failed, Ignored };

struct Outcome {
  Status status = Status::Passed;
  std::string output;  // everything the check wrote, with its failure report
};

bool matches(std::string_view name, std::string_view pattern, bool exact) {
  return exact ? name == pattern : name.find(pattern) != std::string_view::npos;
}

bool matches_any(std::string_view name, const std::vector<std::string>& patterns, bool exact) {
  return std::ranges::any_of(patterns, [&](const auto& p) { return matches(name, p, exact); });
}

std::vector<const CheckDescriptor*> select(std::span<const CheckDescriptor> checks,
                                           const Options& options) {
  std::vector<const CheckDescriptor*> selected;
  for (const auto& check : checks) {
    if (!options.filters.empty() && !matches_any(check.name, options.filters, options.exact)) {
      continue;
    }
    if (matches_any(check.name, options.skips, options.exact)) continue;
    if (options.ignored_only && !check.ignore) continue;
    selected.push_back(&check);
  }
  return selected;
}

bool runs(const CheckDescriptor& check, const Options& options) {
  return !check.ignore || options.ignored_only || options.include_ignored;
}

std::string location_text(const std::source_location& where) {
  return std::string(where.file_name()) + ":" + std::to_string(where.line()) + ":" +
         std::to_string(where.column());
}

// Calls the check and returns its failure message, if it failed.
std::optional<std::string> invoke(const CheckDescriptor& check) {
  const std::string name(check.name);
  try {
    check.function();
    return std::nullopt;
  } catch (const Failure& failure) {
    err() << "check '" << name << "' failed at " << location_text(failure.where()) << ":\n"
          << failure.message() << '\n';
    return failure.message();
  } catch (const std::exception& exception) {
    err() << "check '" << name << "' failed with an uncaught exception:\n"
          << exception.what() << '\n';
    return std::string(exception.what());
  } catch (...) {
    err() << "check '" << name << "' failed with an uncaught exception of unknown type\n";
    return std::string();
  }
}

// Applies the check's expected-failure mode to what happened.
Status judge(const CheckDescriptor& check, const std::optional<std::string>& failure) {
  const ExpectedFailure& expected = check.expected_failure;
  switch (expected.mode) {
    case ExpectedFailure::Mode::None:
      return failure ? Status::Failed : Status::Passed;
    case ExpectedFailure::Mode::Any:
      if (failure) return Status::Passed;
      break;
    case ExpectedFailure::Mode::WithMessage:
      if (failure && failure->find(expected.message) != std::string::npos) return Status::Passed;
      if (failure) {
        err() << "note: the failure message did not contain the expected text\n"
              << "      failure message: `" << *failure << "`\n"
              << "   expected substring: `" << expected.message << "`\n";
        return Status::Failed;
      }
      break;
  }
  err() << "note: check did not fail as expected\n";
  return Status::Failed;
}

Outcome run_one(const CheckDescriptor& check, const Options& options) {
  if (!runs(check, options)) return Outcome{.status = Status::Ignored, .output = {}};
  Capture capture;
  const ScopedCapture scope(options.nocapture ? nullptr : &capture);
  const Status status = judge(check, invoke(check));
  out().flush();
  err().flush();
  return Outcome{.status = status, .output = capture.take()};
}

std::string display_name(const CheckDescriptor& check) {
  std::string name(check.name);
  if (check.expected_failure.mode != ExpectedFailure::Mode::None) name += " - should fail";
  return name;
}

std::string result_word(const CheckDescriptor& check, Status status) {
  switch (status) {
    case Status::Passed:
      return "ok";
    case Status::Failed:
      return "FAILED";
    case Status::Ignored:
      return check.ignore_message ? "ignored, " + std::string(*check.ignore_message) : "ignored";
  }
  return {};
}

std::string plural(std::size_t count, std::string_view noun) {
  return std::to_string(count) + " " + std::string(noun) + (count == 1 ? "" : "s");
}

// Runs every selected check on a pool of worker threads and hands each outcome
// to `report` on the calling thread as soon as it is known.
template <class Report>
void run_all(const std::vector<const CheckDescriptor*>& selected, const Options& options,
             Report report) {
  std::mutex mutex;
  std::condition_variable finished;
  std::deque<std::pair<std::size_t, Outcome>> done;
  std::size_t next = 0;

  auto worker = [&] {
    for (;;) {
      std::size_t index = 0;
      {
        std::lock_guard lock(mutex);
        if (next == selected.size()) return;
        index = next++;
      }
      Outcome outcome = run_one(*selected[index], options);
      {
        std::lock_guard lock(mutex);
        done.emplace_back(index, std::move(outcome));
      }
      finished.notify_one();
    }
  };

  const std::size_t threads =
      std::min(options.test_threads.value_or(selected.size()), selected.size());
  std::vector<std::jthread> pool;
  pool.reserve(threads);
  for (std::size_t i = 0; i < threads; ++i) pool.emplace_back(worker);

  for (std::size_t received = 0; received < selected.size(); ++received) {
    std::unique_lock lock(mutex);
    finished.wait(lock, [&] { return !done.empty(); });
    auto [index, outcome] = std::move(done.front());
    done.pop_front();
    lock.unlock();
    report(index, std::move(outcome));
  }
}

// The "successes:" or "failures:" section: each check's captured output, then
// the sorted list of names.
void print_section(std::string_view heading, const std::vector<const CheckDescriptor*>& selected,
                   const std::vector<Outcome>& outcomes, Status status) {
  std::string blocks;
  std::vector<std::string_view> names;
  for (std::size_t i = 0; i < selected.size(); ++i) {
    if (outcomes[i].status != status) continue;
    names.push_back(selected[i]->name);
    // A failure always shows its block; a success only when it wrote something.
    if (status == Status::Passed && outcomes[i].output.empty()) continue;
    blocks += "---- " + std::string(selected[i]->name) + " stdout ----\n";
    blocks += outcomes[i].output + "\n";
  }
  std::cout << '\n' << heading << ":\n";
  if (!blocks.empty()) std::cout << '\n' << blocks;
  std::cout << '\n' << heading << ":\n";
  std::ranges::sort(names);
  for (const auto name : names) std::cout << "    " << name << '\n';
}

int list_checks(const std::vector<const CheckDescriptor*>& selected) {
  for (const auto* check : selected) std::cout << check->name << ": test\n";
  std::cout << '\n' << plural(selected.size(), "test") << ", 0 benchmarks\n";
  return 0;
}

int run_selected(std::span<const CheckDescriptor> checks,
                 const std::vector<const CheckDescriptor*>& selected, const Options& options) {
  const auto start = std::chrono::steady_clock::now();
  write_whole(stdout, "\nrunning " + plural(selected.size(), "test") + '\n');

  std::vector<Outcome> outcomes(selected.size());
  std::size_t passed = 0, failed = 0, ignored = 0;
  run_all(selected, options, [&](std::size_t index, Outcome outcome) {
    const CheckDescriptor& check = *selected[index];
    write_whole(stdout, "test " + display_name(check) + " ... " +
                            result_word(check, outcome.status) + '\n');
    (outcome.status == Status::Passed   ? passed
     : outcome.status == Status::Failed ? failed
                                        : ignored) += 1;
    outcomes[index] = std::move(outcome);
  });

  if (options.show_output && passed > 0)
    print_section("successes", selected, outcomes, Status::Passed);
  if (failed > 0) print_section("failures", selected, outcomes, Status::Failed);

  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.2f", elapsed.count());
  std::cout << "\ntest result: " << (failed > 0 ? "FAILED" : "ok") << ". " << passed << " passed; "
            << failed << " failed; " << ignored << " ignored; 0 measured; "
            << checks.size() - selected.size() << " filtered out; finished in " << seconds
            << "s\n\n"
            << std::flush;
  return failed > 0 ? kFailureStatus : 0;
}

}  // namespace

int run_checks(int argc, const char* const* argv, std::span<const CheckDescriptor> checks) {
  const std::string_view program = argc > 0 ? argv[0] : "checks";
  const std::vector<std::string_view> args(argv + std::min(argc, 1), argv + argc);
  const auto options = parse_options(args);
  if (!options) {
    std::cerr << "error: " << options.error() << "\n\n" << usage(program);
    return kFailureStatus;
  }
  if (options->help) {
    std::cout << usage(program);
    return 0;
  }
  const auto selected = select(checks, *options);
  if (options->list) return list_checks(selected);
  return run_selected(checks, selected, *options);
}

}  // namespace brackwater_dat::runner
