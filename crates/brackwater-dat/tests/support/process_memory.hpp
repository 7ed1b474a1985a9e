#pragma once

#include <cstddef>

namespace brackwater_dat::test_support {

// This process's peak resident memory, in KiB.
long peak_memory_kib();

// Whether this platform lets a process limit its own address space.
bool can_limit_address_space();

// Lets this process map `room` bytes more than it has mapped now, where
// can_limit_address_space().
void limit_address_space(std::size_t room);

}  // namespace brackwater_dat::test_support
