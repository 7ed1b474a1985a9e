#pragma once

#include <string_view>

namespace brackwater_dat::parity {

// The browser client's binding source text, embedded byte for byte when the
// program was built.
std::string_view client_source() noexcept;

}  // namespace brackwater_dat::parity
