#pragma once

#include <cstddef>
#include <functional>

namespace brackwater_dat::cli {

// What --threads means when it is not given: the hardware's threads; for an
// archive behind a URL at least 16, as its reads mostly wait on the network.
unsigned default_threads(bool remote = false);

// Calls work(i) once for every i below `count`, on `threads` threads (the
// calling one among them), taking the next index as each finishes one.
void for_each_index(std::size_t count, unsigned threads,
                    const std::function<void(std::size_t)>& work);

}  // namespace brackwater_dat::cli
