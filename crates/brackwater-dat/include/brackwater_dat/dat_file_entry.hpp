#pragma once

#include <cstdint>

namespace brackwater_dat {

// One file of the directory, 24 bytes in a directory node.
struct DatFileEntry {
  std::uint32_t bit_flags;  // bit 0: the stored payload is LRS-compressed
  std::uint32_t id;
  std::uint32_t offset;  // first block of the file's chain
  std::uint32_t size;    // stored payload bytes
  std::uint32_t timestamp;
  std::uint32_t version;
};

}  // namespace brackwater_dat
