#include "resolve_sound_parity/retail_dat.hpp"

#include <vector>

#include "resolve_sound_parity/environment.hpp"
#include "resolve_sound_parity/format.hpp"
#include "runner/failure.hpp"

namespace brackwater_dat::parity {

std::optional<std::filesystem::path> locate_retail_dat() {
  std::vector<std::filesystem::path> candidates;
  if (auto named = environment_text("AC_BASE_PORTAL_DAT")) candidates.emplace_back(*named);
  candidates.emplace_back("/home/kestrelbox/ac_base_dats/client_portal.dat");
  candidates.emplace_back("/home/kestrelbox/projects/BaselineRig/dats/base/client_portal.dat");
  for (auto& candidate : candidates) {
    if (path_exists(candidate)) return std::move(candidate);
  }
  return std::nullopt;
}

DatDatabase open_retail_dat(const std::filesystem::path& path, std::source_location where) {
  auto db = DatDatabase::open(path);
  if (!db) runner::fail("open retail dat: " + debug_text(db.error()), where);
  return std::move(*db);
}

file_type::SoundTable load_sound_table(const DatDatabase& db, std::uint32_t table_id,
                                       std::source_location where) {
  const auto payload = db.get_file(table_id);
  if (!payload) {
    runner::fail("get_file 0x" + hex(table_id, 8) + ": " + debug_text(payload.error()), where);
  }
  auto table = file_type::SoundTable::unpack(*payload);
  if (!table) {
    runner::fail("unpack 0x" + hex(table_id, 8) + ": " + debug_text(table.error()), where);
  }
  return std::move(*table);
}

}  // namespace brackwater_dat::parity
