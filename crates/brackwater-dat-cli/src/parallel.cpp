#include "parallel.hpp"

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace brackwater_dat::cli {

unsigned default_threads(bool remote) {
  return std::max(remote ? 16u : 1u, std::thread::hardware_concurrency());
}

void for_each_index(std::size_t count, unsigned threads,
                    const std::function<void(std::size_t)>& work) {
  std::atomic<std::size_t> next{0};
  const auto drain = [&] {
    for (std::size_t i = next++; i < count; i = next++) work(i);
  };
  const std::size_t helpers = std::min<std::size_t>(std::max(threads, 1u), count) - (count > 0);
  std::vector<std::jthread> pool;
  pool.reserve(helpers);
  for (std::size_t t = 0; t < helpers; ++t) pool.emplace_back(drain);
  drain();
}

}  // namespace brackwater_dat::cli
