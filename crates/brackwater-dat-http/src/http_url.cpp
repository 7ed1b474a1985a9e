#include "http_url.hpp"

#include <algorithm>
#include <cctype>

namespace brackwater_dat::http {
namespace {

std::string lower(std::string_view text) {
  std::string out(text);
  std::ranges::transform(out, out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out;
}

std::size_t scheme_length(std::string_view url) {
  const std::string head = lower(url.substr(0, 8));
  if (head.starts_with("http://")) return 7;
  if (head.starts_with("https://")) return 8;
  return 0;
}

}  // namespace

std::optional<std::string> url_origin(std::string_view url) {
  const std::size_t scheme = scheme_length(url);
  if (scheme == 0) return std::nullopt;
  const std::size_t end = url.find_first_of("/?#", scheme);
  const std::string_view authority = url.substr(scheme, end - std::min(end, scheme));
  if (authority.empty()) return std::nullopt;
  return lower(url.substr(0, scheme)) + lower(authority);
}

// Whether `text` starts with a scheme of any kind ("file:", "ftp:").
bool has_scheme(std::string_view text) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos || colon == 0 ||
      !std::isalpha(static_cast<unsigned char>(text[0])))
    return false;
  return std::ranges::all_of(text.substr(0, colon), [](unsigned char c) {
    return std::isalnum(c) || c == '+' || c == '-' || c == '.';
  });
}

std::string resolve_location(std::string_view base, std::string_view location) {
  if (has_scheme(location)) return std::string(location);
  const std::string origin = url_origin(base).value_or("");
  if (location.starts_with("//"))
    return lower(base.substr(0, scheme_length(base))) + std::string(location.substr(2));
  if (location.starts_with("/")) return origin + std::string(location);
  // A path relative to the base's folder.
  const std::string_view path = base.substr(0, base.find_first_of("?#", origin.size()));
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string_view::npos || slash < origin.size()
                                 ? origin + "/"
                                 : std::string(path.substr(0, slash + 1));
  return folder + std::string(location);
}

}  // namespace brackwater_dat::http
