#pragma once

#include <cstdint>
#include <string>

namespace brackwater_dat {

// One file of the directory, 24 bytes in a directory node.
struct DatFileEntry {
  std::uint32_t bit_flags;  // bit 0: the stored payload is LRS-compressed
  std::uint32_t id;
  std::uint32_t offset;  // first block of the file's chain
  std::uint32_t size;    // stored payload bytes
  std::uint32_t timestamp;
  std::uint32_t version;

  friend bool operator==(const DatFileEntry&, const DatFileEntry&) = default;
};

// Whether get_file decompresses the entry's stored payload.
constexpr bool is_compressed(const DatFileEntry& entry) { return (entry.bit_flags & 1) != 0; }

// A file id's type: its high byte (0x20 sound tables, 0x0A waves).
constexpr std::uint8_t file_type_of(std::uint32_t id) {
  return static_cast<std::uint8_t>(id >> 24);
}

// A file id as messages and listings write it: "0x" and eight upper-case
// hexadecimal digits, as 0x0A000262. Block offsets read the same way.
std::string hex_id(std::uint32_t id);

}  // namespace brackwater_dat
