#pragma once

#include <string>
#include <string_view>

namespace brackwater_dat::unicode {

// The text in double quotes with quote, backslash, \t \r \n \0 escaped, other
// non-printable characters as \u{hex}, and malformed bytes as \xNN.
std::string quoted(std::string_view text);

}  // namespace brackwater_dat::unicode
