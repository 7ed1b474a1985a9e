// Which wave a sound kind plays, by a sound table of the archive.
//
//   resolve_sound ARCHIVE TABLE_ID KIND      (as 0x20000001 0x58, or decimal)
#include <brackwater_dat/brackwater_dat.hpp>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s ARCHIVE TABLE_ID KIND\n", argv[0]);
    return 2;
  }
  const auto db = brackwater_dat::DatDatabase::open(argv[1]);
  if (!db) {
    std::fprintf(stderr, "%s\n", brackwater_dat::display_text(db.error()).c_str());
    return 1;
  }
  const auto table_id = static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 0));
  const auto kind = static_cast<std::uint32_t>(std::strtoul(argv[3], nullptr, 0));
  const auto payload = db->get_file(table_id);
  if (!payload) {
    std::fprintf(stderr, "%s\n", brackwater_dat::display_text(payload.error()).c_str());
    return 1;
  }
  const auto table = brackwater_dat::file_type::SoundTable::unpack(*payload);
  if (!table) {
    std::fprintf(stderr, "table 0x%08X: %s\n", table_id,
                 brackwater_dat::display_text(table.error()).c_str());
    return 1;
  }
  if (const auto wave = table->resolve_sound(kind)) {
    std::printf("0x%08X kind 0x%02X plays 0x%08X\n", table_id, kind, *wave);
  } else {
    std::printf("0x%08X kind 0x%02X plays nothing\n", table_id, kind);
  }
  return 0;
}
