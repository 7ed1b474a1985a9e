#include "resolve_sound_parity/retail_dat.hpp"

#include <vector>

#include "resolve_sound_parity/environment.hpp"

namespace brackwater_dat::parity {

std::optional<std::filesystem::path> locate_retail_dat() {
  std::vector<std::filesystem::path> candidates;
  if (auto named = environment_text("AC_BASE_PORTAL_DAT")) candidates.emplace_back(*named);
  candidates.emplace_back("/home/kestrelbox/ac_base_dats/client_portal.dat");
  candidates.emplace_back("/home/kestrelbox/projects/BaselineRig/dats/base/client_portal.dat");
  for (auto& candidate : candidates) {
    if (path_exists(candidate)) return std::move(candidate);
  }
  return std::nullopt;
}

}  // namespace brackwater_dat::parity
