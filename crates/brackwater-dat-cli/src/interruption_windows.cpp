#include <windows.h>

#include <atomic>
#include <csignal>

#include "interruption.hpp"

namespace brackwater_dat::cli {
namespace {

// The signal each console event stands for: Ctrl+C and Ctrl+Break for
// SIGINT, a closing console, logoff or shutdown for SIGTERM.
std::atomic<int> requested{0};

// Set once the command has taken back its files: the process ends as soon
// as the handler returns from a closing console's event.
HANDLE settled = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);

BOOL WINAPI ask_to_stop(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      requested.store(SIGINT, std::memory_order_relaxed);
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      requested.store(SIGTERM, std::memory_order_relaxed);
      ::WaitForSingleObject(settled, INFINITE);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

// A process started with Ctrl+C ignored, as a console starts a command in
// the background, never sees that event: it stays ignored.
Interruption::Interruption() { ::SetConsoleCtrlHandler(ask_to_stop, TRUE); }

Interruption::~Interruption() {
  ::SetEvent(settled);
  ::SetConsoleCtrlHandler(ask_to_stop, FALSE);
}

int Interruption::signal() noexcept { return requested.load(std::memory_order_relaxed); }

ExitStatus Interruption::status() noexcept { return static_cast<ExitStatus>(128 + signal()); }

}  // namespace brackwater_dat::cli
