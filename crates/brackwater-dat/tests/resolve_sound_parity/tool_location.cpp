#include "resolve_sound_parity/tool_location.hpp"

#include "resolve_sound_parity/environment.hpp"

namespace brackwater_dat::parity {

std::string join_path(std::string_view base, std::string_view component) {
  if (base.empty()) return std::string(component);
  if (base.ends_with('/')) return std::string(base) + std::string(component);
  return std::string(base) + "/" + std::string(component);
}

std::vector<std::string> host_candidates() {
  std::vector<std::string> candidates;
  if (auto root = environment_text("DOTNET_ROOT")) candidates.push_back(join_path(*root, "dotnet"));
  const std::string home = environment_text("HOME").value_or("/home/kestrelbox");
  candidates.push_back(join_path(join_path(home, ".dotnet"), "dotnet"));
  if (auto path = environment_text("PATH")) {
    std::string_view rest = *path;
    for (;;) {
      const std::size_t colon = rest.find(':');
      candidates.push_back(join_path(rest.substr(0, colon), "dotnet"));
      if (colon == std::string_view::npos) break;
      rest.remove_prefix(colon + 1);
    }
  }
  return candidates;
}

std::vector<std::string> tool_candidates() {
  std::vector<std::string> candidates;
  if (auto named = environment_text("LS_TERMINAL_DLL")) candidates.push_back(*named);
  candidates.emplace_back(
      "/home/kestrelbox/Landsmith-ORCA-Edition/Landsmith.Terminal/bin/Release/net8.0/"
      "Landsmith.Terminal.dll");
  candidates.emplace_back(
      "/home/kestrelbox/Landsmith-ORCA-Edition/Landsmith.Terminal/bin/Debug/net8.0/"
      "Landsmith.Terminal.dll");
  return candidates;
}

std::optional<std::string> first_existing(const std::vector<std::string>& candidates) {
  for (const auto& candidate : candidates) {
    if (path_exists(candidate)) return candidate;
  }
  return std::nullopt;
}

}  // namespace brackwater_dat::parity
