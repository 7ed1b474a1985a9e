#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ids.hpp"
#include "output.hpp"

namespace brackwater_dat::cli {

struct SoundOptions {
  std::string archive;
  TypedId table;
  std::vector<TypedId> kinds;  // none: every kind in the table, else these in this order
  bool json = false;
  bool on_demand = false;
  bool any_header = false;
};

struct ResolveOptions {
  std::string archive;
  TypedId table;
  std::vector<TypedId> kinds;
  bool json = false;
  bool on_demand = false;
  bool any_header = false;
};

// A decoded sound table: its kinds, their waves and entries.
ExitStatus run_sound(const SoundOptions& options);

// The wave each sound kind resolves to, one line a kind, in the order asked.
ExitStatus run_resolve(const ResolveOptions& options);

}  // namespace brackwater_dat::cli
