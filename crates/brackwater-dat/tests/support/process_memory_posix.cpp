#include <sys/resource.h>
#include <unistd.h>

#include <fstream>

#include "support/process_memory.hpp"

namespace brackwater_dat::test_support {

long peak_memory_kib() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

bool can_limit_address_space() { return true; }

void limit_address_space(std::size_t room) {
  std::ifstream status("/proc/self/statm");
  std::size_t pages = 0;
  status >> pages;
  const rlim_t limit = pages * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)) + room;
  const rlimit address_space{limit, limit};
  ::setrlimit(RLIMIT_AS, &address_space);
}

}  // namespace brackwater_dat::test_support
