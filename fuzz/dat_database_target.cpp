// An arbitrary archive image opened from memory both ways: opened whole, every
// entry is read with get_file, and with read_file into a buffer of its own;
// opened on demand, lookups answer as the whole directory does wherever it is
// a search tree.
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
  if (!db) return 0;
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
