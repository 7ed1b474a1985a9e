#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Where the dotnet host and the reference tool are looked for.
namespace brackwater_dat::parity {

// `base` and `component` with one "/" between them, none when `base` is
// empty or already ends in "/".
std::string join_path(std::string_view base, std::string_view component);

// DOTNET_ROOT/dotnet, then $HOME/.dotnet/dotnet (HOME defaulting to
// /home/kestrelbox), then dotnet in every piece of PATH, empty pieces too.
std::vector<std::string> host_candidates();

// LS_TERMINAL_DLL, then the tool's release and debug build locations.
std::vector<std::string> tool_candidates();

// The first candidate that exists.
std::optional<std::string> first_existing(const std::vector<std::string>& candidates);

}  // namespace brackwater_dat::parity
