#pragma once

#include <array>
#include <cstdint>

namespace brackwater_dat {

// The archive header, 80 bytes at file offset 0x140, kept exactly as read.
struct DatHeader {
  std::uint32_t magic;
  std::uint32_t block_size;  // every block: a 4-byte link, then block_size - 4 payload bytes
  std::uint32_t file_size;
  std::uint32_t dataset;
  std::uint32_t subset;
  std::uint32_t free_head;
  std::uint32_t free_tail;
  std::uint32_t free_count;
  std::uint32_t root_offset;  // the directory's root node; 0: an empty directory
  std::uint32_t new_lru;
  std::uint32_t old_lru;
  std::uint32_t use_lru;
  std::uint32_t master_map_id;
  std::uint32_t engine_version;
  std::uint32_t game_version;
  std::array<std::uint8_t, 16> version_string;
  std::uint32_t version_minor;

  friend bool operator==(const DatHeader&, const DatHeader&) = default;
};

}  // namespace brackwater_dat
