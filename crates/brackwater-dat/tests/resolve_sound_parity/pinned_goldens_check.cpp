#include <array>
#include <brackwater_dat/dat_database.hpp>
#include <brackwater_dat/file_type/sound_table.hpp>
#include <string_view>

#include "resolve_sound_parity/checks.hpp"
#include "resolve_sound_parity/format.hpp"
#include "resolve_sound_parity/retail_dat.hpp"
#include "runner/capture.hpp"
#include "runner/failure.hpp"

namespace brackwater_dat::parity {
namespace {

struct GoldenCase {
  std::string_view label;
  std::uint32_t table_id;
  std::uint32_t sound;
  std::optional<std::uint32_t> expected;
};

constexpr std::array<GoldenCase, 6> kGoldens = {{
    {"ShieldUp", 0x20000001, 0x58, 0x0A000262},
    {"EnchantDown", 0x20000001, 0x5B, 0x0A000274},
    {"Ambient1", 0x20000001, 0x46, std::nullopt},
    {"Invalid", 0x20000001, 0xFFFFFFFF, std::nullopt},
    {"Swoosh2", 0x200000A8, 0x1F, 0x0A000519},
    {"Ambient1", 0x200000A8, 0x46, std::nullopt},
}};

}  // namespace

void rust_resolve_sound_matches_pinned_goldens() {
  const auto path = locate_retail_dat();
  if (!path) {
    runner::err() << "SKIP — no retail client_portal.dat available\n";
    return;
  }
  const DatDatabase db = open_retail_dat(*path);
  for (const GoldenCase& golden : kGoldens) {
    // Each row fetches and decodes its table afresh.
    const auto table = load_sound_table(db, golden.table_id);
    const auto obtained = table.resolve_sound(golden.sound);
    if (obtained != golden.expected) {
      runner::fail(equality_failure("0x" + hex(golden.table_id, 8) + ".resolve_sound(0x" +
                                        hex(golden.sound, 2) + " = " + std::string(golden.label) +
                                        ") drift: rust=" + debug_wave(obtained) +
                                        " expected=" + debug_wave(golden.expected),
                                    debug_wave(obtained), debug_wave(golden.expected)));
    }
  }
}

}  // namespace brackwater_dat::parity
