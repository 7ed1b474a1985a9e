#pragma once

#include <expected>
#include <string>
#include <string_view>

namespace brackwater_dat::parity {

// Checks that the client binding text defines `resolve_sound_first` with the
// library's rule: look the sound kind up, take the first entry, return its
// wave. Only the 600 bytes from the first definition on are inspected. The
// error is the failure message.
std::expected<void, std::string> verify_resolve_sound_first(std::string_view client_text);

}  // namespace brackwater_dat::parity
