// DatDatabase::open on an arbitrary file image, then get_file of every entry.
#include <sys/mman.h>
#include <unistd.h>

#include <brackwater_dat/dat_database.hpp>
#include <cstdint>
#include <string>

#include "fuzz_check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const int fd = ::memfd_create("archive", MFD_CLOEXEC);
  FUZZ_CHECK(fd >= 0);
  for (std::size_t written = 0; written < size;) {
    const ssize_t n = ::write(fd, data + written, size - written);
    FUZZ_CHECK(n > 0);
    written += static_cast<std::size_t>(n);
  }
  const auto db = brackwater_dat::DatDatabase::open("/proc/self/fd/" + std::to_string(fd));
  if (db) {
    for (const auto& [id, entry] : db->directory()) {
      FUZZ_CHECK(entry.id == id);
      const auto file = db->get_file(id);
      if (file && (entry.bit_flags & 1) == 0) FUZZ_CHECK(file->size() == entry.size);
    }
  }
  ::close(fd);
  return 0;
}
