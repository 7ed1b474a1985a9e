#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The reference tool's line protocol: one JSON request per line in, response
// lines out, matched by position.
namespace brackwater_dat::parity {

inline constexpr std::string_view kResolveCommand = "marlstone-resolve-sound";
inline constexpr std::string_view kQuitRequest = R"({"command":"quit"})";

// {"command":"marlstone-resolve-sound","soundTableDid":"0x200000A8","sound":17}
std::string resolve_request(std::uint32_t table_id, std::uint32_t sound);

// The string value of member `key`, read without a JSON parser: the first
// "key": anywhere in the line, White_Space, then a quoted value taken
// verbatim up to the next quote (escapes are not decoded). None for null, a
// value that is not a string, or a missing closing quote.
std::optional<std::string> extract_string_field(std::string_view line, std::string_view key);

// Whether a trimmed output line answers a resolution request.
bool is_resolve_response(std::string_view line);

// The wave of a "waveDid" value: hexadecimal with an optional 0x or 0X, one
// optional '+', at most 0xFFFFFFFF; none for anything else.
std::optional<std::uint32_t> read_wave(const std::optional<std::string>& text);

}  // namespace brackwater_dat::parity
