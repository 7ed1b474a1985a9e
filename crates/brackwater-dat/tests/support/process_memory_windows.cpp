#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>

#include "support/process_memory.hpp"

namespace brackwater_dat::test_support {

long peak_memory_kib() {
  PROCESS_MEMORY_COUNTERS counters{};
  ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
  return static_cast<long>(counters.PeakWorkingSetSize / 1024);
}

// Windows has no RLIMIT_AS: a job's memory limit is the nearest, and counts
// committed memory rather than address space.
bool can_limit_address_space() { return false; }

void limit_address_space(std::size_t) {}

}  // namespace brackwater_dat::test_support
