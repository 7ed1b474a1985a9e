#pragma once

#include <array>
#include <brackwater_dat/bytes.hpp>
#include <brackwater_dat/dat_file_entry.hpp>
#include <brackwater_dat/dat_header.hpp>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

namespace brackwater_dat::test_support {

// How a chain's blocks lie in the file.
enum class ChainLayout {
  Contiguous,  // one after the other
  Scattered,   // every other block of a run, last first, so no link is "the next block"
};

// A directory node as it will be written. `count` overrides the stored entry
// count, which otherwise is the number of entries.
struct NodeSpec {
  std::array<std::uint32_t, 62> children{};
  std::vector<DatFileEntry> entries;
  std::optional<std::uint32_t> count;
};

// Writes archive images: a header at 0x140, then blocks of `block_size` bytes
// from 0x400 on. High-level calls lay out files, nodes and whole trees; the
// low-level ones let a test write any bytes anywhere.
class ArchiveBuilder {
 public:
  static constexpr std::uint32_t kFirstBlock = 0x400;

  explicit ArchiveBuilder(std::uint32_t block_size = 1024);

  // Written into the image when it is taken, the magic already set; set
  // root_offset and anything else.
  DatHeader& header() noexcept { return header_; }
  std::uint32_t block_size() const noexcept { return block_size_; }

  // A zeroed block at the end of the image.
  std::uint32_t allocate_block();
  // Writes `payload` over the given blocks, linking each to the next and the
  // last to 0. The blocks must hold the payload.
  void write_chain(std::span<const std::uint32_t> blocks, ByteView payload);
  // Stores `payload` in new blocks; returns the first (0 for an empty payload).
  std::uint32_t store_chain(ByteView payload, ChainLayout layout = ChainLayout::Contiguous);

  std::uint32_t store_node(const NodeSpec& node);
  // Stores a file's contents, LRS-compressed when asked, and returns its entry.
  DatFileEntry store_file(std::uint32_t id, ByteView contents, bool compressed = false,
                          ChainLayout layout = ChainLayout::Contiguous);
  // Lays the entries out, sorted by id, as a balanced B-tree whose leaves
  // hold at most `per_node` entries; a non-leaf with k entries has k + 1
  // children (at most 62). With unique ids it is a search tree. Returns the
  // root.
  std::uint32_t store_tree(std::span<const DatFileEntry> entries, std::size_t per_node = 61);

  void put_u32(std::uint64_t offset, std::uint32_t value);
  void put_bytes(std::uint64_t offset, ByteView bytes);
  std::uint64_t size() const noexcept { return image_.size(); }

  Bytes image() const;
  void write(const std::filesystem::path& path) const;

 private:
  std::uint32_t capacity() const noexcept { return block_size_ - 4; }

  std::uint32_t block_size_;
  DatHeader header_{};
  Bytes image_;
};

// The 1716 bytes of a directory node.
Bytes encode_node(const NodeSpec& node);

}  // namespace brackwater_dat::test_support
