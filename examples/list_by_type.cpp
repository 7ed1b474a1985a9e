// Lists an archive's files grouped by type: a line per type with its count,
// then the type's files, id and size.
//
//   list_by_type ARCHIVE
#include <brackwater_dat/brackwater_dat.hpp>
#include <cstdio>
#include <map>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s ARCHIVE\n", argv[0]);
    return 2;
  }
  const auto db = brackwater_dat::DatDatabase::open(argv[1]);
  if (!db) {
    std::fprintf(stderr, "%s\n", brackwater_dat::display_text(db.error()).c_str());
    return 1;
  }
  std::map<std::uint8_t, std::map<std::uint32_t, std::uint32_t>> by_type;  // type -> id -> size
  for (const auto& [id, entry] : db->directory()) {
    by_type[brackwater_dat::file_type_of(id)][id] = entry.size;
  }
  for (const auto& [type, files] : by_type) {
    std::printf("type 0x%02X: %zu files\n", type, files.size());
    for (const auto& [id, size] : files) std::printf("  0x%08X %u bytes\n", id, size);
  }
  return 0;
}
