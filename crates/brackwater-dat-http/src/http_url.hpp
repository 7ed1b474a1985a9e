#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace brackwater_dat::http {

// The scheme and authority of an http(s) URL, lower-cased ("https://host:8443"),
// or none when `url` is not one.
std::optional<std::string> url_origin(std::string_view url);

// Where a Location header sends a request for `base`: absolute as given, or
// resolved against `base` when it is a path.
std::string resolve_location(std::string_view base, std::string_view location);

}  // namespace brackwater_dat::http
