// DatDatabase::open_memory on an arbitrary archive image, then get_file of every entry.
#include <brackwater_dat/dat_database.hpp>
#include <cstdint>

#include "fuzz_check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto db =
      brackwater_dat::DatDatabase::open_memory(brackwater_dat::Bytes(data, data + size));
  if (!db) return 0;
  for (const auto& [id, entry] : db->directory()) {
    FUZZ_CHECK(entry.id == id);
    const auto file = db->get_file(id);
    if (file && !brackwater_dat::is_compressed(entry)) FUZZ_CHECK(file->size() == entry.size);
  }
  return 0;
}
