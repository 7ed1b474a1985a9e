// Writes one file of an archive, decompressed when its entry says so.
//
//   extract_file ARCHIVE ID OUTPUT      (ID as 0x0A000262 or decimal)
#include <brackwater_dat/brackwater_dat.hpp>
#include <cstdio>
#include <cstdlib>
#include <fstream>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s ARCHIVE ID OUTPUT\n", argv[0]);
    return 2;
  }
  const auto db = brackwater_dat::DatDatabase::open(argv[1]);
  if (!db) {
    std::fprintf(stderr, "%s\n", brackwater_dat::display_text(db.error()).c_str());
    return 1;
  }
  const auto id = static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 0));
  const auto file = db->get_file(id);
  if (!file) {
    std::fprintf(stderr, "%s\n", brackwater_dat::display_text(file.error()).c_str());
    return 1;
  }
  std::ofstream out(argv[3], std::ios::binary);
  out.write(reinterpret_cast<const char*>(file->data()),
            static_cast<std::streamsize>(file->size()));
  if (!out.flush()) {
    std::fprintf(stderr, "cannot write %s\n", argv[3]);
    return 1;
  }
  std::printf("wrote %zu bytes of 0x%08X to %s\n", file->size(), id, argv[3]);
  return 0;
}
