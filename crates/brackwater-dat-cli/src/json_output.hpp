#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace brackwater_dat::cli {

// Members keep the order they are written in, as the commands document them.
using Json = nlohmann::ordered_json;

// A float as the JSON number that reads back as it, or "nan", "inf" or "-inf".
Json json_float(float value);

// The document, indented, with a final line break. Text that is not UTF-8
// (a path, say) shows with replacement characters rather than failing.
std::string json_text(const Json& document);

}  // namespace brackwater_dat::cli
