#include <atomic>
#include <csignal>

#include "interruption.hpp"

namespace brackwater_dat::cli {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM};

// Set from the handler, so lock-free.
std::atomic<int> requested{0};
static_assert(std::atomic<int>::is_always_lock_free);

struct sigaction previous[std::size(kSignals)];

extern "C" void ask_to_stop(int signal) { requested.store(signal, std::memory_order_relaxed); }

}  // namespace

Interruption::Interruption() {
  struct sigaction action {};
  action.sa_handler = ask_to_stop;
  sigemptyset(&action.sa_mask);
  for (std::size_t i = 0; i < std::size(kSignals); ++i) {
    ::sigaction(kSignals[i], nullptr, &previous[i]);
    // A signal ignored from the start stays ignored, as a shell leaves
    // SIGINT for a command it runs in the background.
    if (previous[i].sa_handler != SIG_IGN) ::sigaction(kSignals[i], &action, nullptr);
  }
}

Interruption::~Interruption() {
  for (std::size_t i = 0; i < std::size(kSignals); ++i) {
    ::sigaction(kSignals[i], &previous[i], nullptr);
  }
}

int Interruption::signal() noexcept { return requested.load(std::memory_order_relaxed); }

ExitStatus Interruption::status() noexcept { return static_cast<ExitStatus>(128 + signal()); }

}  // namespace brackwater_dat::cli
