#pragma once

#include <brackwater_dat/bytes.hpp>
#include <cstdint>
#include <map>
#include <optional>
#include <string_view>
#include <utility>

namespace brackwater_dat::test_support {

// Ways the synthetic retail archive can be made wrong on purpose.
enum class RetailVariant {
  Good,
  MissingSwooshTable,         // no table 0x200000A8
  EnchantDownDrifts,          // 0x20000001 kind 0x5B plays another wave
  EnchantDownDriftsNoSwoosh,  // both of the above
  AmbientPlays,               // 0x20000001 kind 0x46 plays a wave
  InvalidPlays,               // 0x20000001 kind 0xFFFFFFFF plays a wave
  TruncatedShieldTable,       // table 0x20000001 ends inside its last record
};

std::optional<RetailVariant> parse_retail_variant(std::string_view name);

// (table id, sound kind) for every kind 0..204 of both compared tables, to
// the wave its first entry names (none for 0, an empty list or no record).
// Derived from the archive's own recipe, not by decoding it.
using RetailAnswers =
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::optional<std::uint32_t>>;

struct SyntheticRetail {
  Bytes image;
  RetailAnswers answers;
};

// A portal-like archive: block size 1024, a directory of several levels over
// some hundreds of files of several types, and the sound tables 0x20000001
// and 0x200000A8 stored compressed with the pinned answers in them.
SyntheticRetail build_synthetic_retail(RetailVariant variant);

}  // namespace brackwater_dat::test_support
