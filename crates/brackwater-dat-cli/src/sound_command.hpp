#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "output.hpp"

namespace brackwater_dat::cli {

struct SoundOptions {
  std::string archive;
  std::uint32_t table = 0;
  std::vector<std::uint32_t> kinds;  // none: every kind in the table
  bool json = false;
};

struct ResolveOptions {
  std::string archive;
  std::uint32_t table = 0;
  std::vector<std::uint32_t> kinds;
};

// A decoded sound table: its kinds, their waves and entries.
ExitStatus run_sound(const SoundOptions& options);

// The wave each sound kind resolves to, one line a kind, in the order asked.
ExitStatus run_resolve(const ResolveOptions& options);

}  // namespace brackwater_dat::cli
