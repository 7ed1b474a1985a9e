#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>

#include "brackwater_dat/bytes.hpp"
#include "brackwater_dat/dat_file_entry.hpp"
#include "brackwater_dat/error.hpp"

namespace brackwater_dat {

// A directory node's 1716 bytes: 62 child links, an entry count, and up to 61
// 24-byte entries.
class DirectoryNode {
 public:
  static constexpr std::size_t kLength = 1716;
  static constexpr std::size_t kChildCount = 62;

  explicit DirectoryNode(ByteView bytes) noexcept : bytes_(bytes) {}

  std::uint32_t child(std::size_t index) const noexcept;
  std::uint32_t entry_count() const noexcept;
  // Entry `index`; one that lies past the node's bytes fails on its first field.
  std::expected<DatFileEntry, ParseError> entry(std::uint32_t index) const;

  // A node's bytes in the layout read here: `children` (at most 62) links
  // then zeros, the entry count, `entries` (at most 61), zeros to the end.
  static void encode(std::span<const std::uint32_t> children, std::span<const DatFileEntry> entries,
                     std::span<std::uint8_t, kLength> out);

 private:
  ByteView bytes_;
};

}  // namespace brackwater_dat
