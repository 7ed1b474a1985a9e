// An arbitrary archive image opened from memory both ways: opened whole, every
// entry is read with get_file, and with read_file into a buffer of its own;
// opened on demand, lookups answer as the whole directory does wherever it is
// a search tree, and still answer (or fail) where the whole open failed.
#include <brackwater_dat/dat_database.hpp>
#include <cstdint>

#include "fuzz_check.hpp"
#include "support/read_every_file.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using brackwater_dat::DatDatabase;
  const brackwater_dat::Bytes image(data, data + size);
  const auto db = DatDatabase::open_memory(image);
  const auto on_demand =
      DatDatabase::open_memory(image, brackwater_dat::DirectoryLoading::on_demand);
  if (!db) {
    // A tree the whole open refuses may still answer lookups that keep off
    // its faults: look up ids the image itself holds, and read what is found.
    if (!on_demand) return 0;
    for (std::size_t at = 0; at + 4 <= size; at += size / 16 + 4) {
      const std::uint32_t id = data[at] | data[at + 1] << 8 | data[at + 2] << 16 |
                               static_cast<std::uint32_t>(data[at + 3]) << 24;
      if (const auto entry = on_demand->find(id)) {
        FUZZ_CHECK(entry->id == id);
        (void)on_demand->get_file(id);
      }
    }
    return 0;
  }
  FUZZ_CHECK(on_demand.has_value());  // it read the header the whole open read
  for (const auto& [id, entry] : db->directory()) {
    FUZZ_CHECK(entry.id == id);
    const auto file = db->get_file(id);
    if (file && !brackwater_dat::is_compressed(entry)) FUZZ_CHECK(file->size() == entry.size);
  }
  FUZZ_CHECK(!brackwater_dat::test_support::on_demand_disagreement(*db, *on_demand));
  FUZZ_CHECK(!brackwater_dat::test_support::read_file_disagreement(*db));
  return 0;
}
