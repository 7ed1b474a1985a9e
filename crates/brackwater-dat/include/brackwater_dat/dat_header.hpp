#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

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

// The magic number of the archives this library reads.
inline constexpr std::uint32_t kDatMagic = 0x00005442;

// What in `header` does not look like the header of an archive of `length`
// bytes, a line for people each; none when it looks right. Opening reads a
// header without judging it, so that any stored archive still opens; tools
// that tell people whether a file is an archive judge it here: the magic, a
// block size that holds a link and a payload, file_size against the length,
// and a root node inside the archive.
std::vector<std::string> check_header(const DatHeader& header, std::uint64_t length);

}  // namespace brackwater_dat
