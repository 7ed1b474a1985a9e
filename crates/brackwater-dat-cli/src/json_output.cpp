#include "json_output.hpp"

#include <charconv>
#include <cmath>

#include "text_format.hpp"

namespace brackwater_dat::cli {

Json json_float(float value) {
  const std::string text = format_float(value);
  if (!std::isfinite(value)) return text;
  // The double nearest the float's shortest text prints as that text again.
  double number = 0;
  std::from_chars(text.data(), text.data() + text.size(), number);
  return number;
}

std::string json_text(const Json& document) {
  return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace brackwater_dat::cli
