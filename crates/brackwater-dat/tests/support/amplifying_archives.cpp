#include "support/amplifying_archives.hpp"

#include <stdexcept>
#include <vector>

#include "support/archive_builder.hpp"

namespace brackwater_dat::test_support {

Bytes looping_files_archive(std::uint32_t files, std::uint32_t length, std::uint32_t block_size) {
  ArchiveBuilder builder(block_size);
  const std::uint32_t block = builder.allocate_block();
  builder.put_u32(block, block);
  // Room for the directory: a node of 1716 bytes for every 61 entries or so.
  const std::uint32_t node_blocks = (1716 + block_size - 5) / (block_size - 4);
  const std::uint32_t size = length - (files / 60 + 2) * node_blocks * block_size - block;
  std::vector<DatFileEntry> entries;
  for (std::uint32_t i = 0; i < files; ++i) {
    entries.push_back({0, 0x01000000 + i, block, size, 0, 1});
  }
  builder.header().root_offset = builder.store_tree(entries);
  if (builder.size() > length) throw std::invalid_argument("the directory does not fit");
  builder.put_bytes(length - 1, Bytes{0});
  builder.header().file_size = length;
  return builder.image();
}

Bytes shared_chain_archive(std::uint32_t files, std::uint32_t length) {
  constexpr std::uint32_t kBlockSize = 1024;
  ArchiveBuilder builder(kBlockSize);
  // The directory goes first, so that the chain can take the rest.
  std::vector<DatFileEntry> entries;
  const std::uint32_t first = ArchiveBuilder::kFirstBlock + (files / 40 + 4) * 2 * kBlockSize;
  const std::uint32_t blocks = (length - first) / kBlockSize;
  for (std::uint32_t i = 0; i < files; ++i) {
    entries.push_back({0, 0x01000000 + i, first, blocks * (kBlockSize - 4), 0, 1});
  }
  builder.header().root_offset = builder.store_tree(entries);
  if (builder.size() > first) throw std::invalid_argument("the directory does not fit");
  for (std::uint32_t k = 0; k < blocks; ++k) {
    const std::uint32_t block = first + k * kBlockSize;
    builder.put_u32(block, k + 1 < blocks ? block + kBlockSize : 0);
  }
  builder.put_bytes(first + blocks * kBlockSize - 1, Bytes{0});
  builder.header().file_size = static_cast<std::uint32_t>(builder.size());
  return builder.image();
}

Bytes clean_archive(std::uint32_t files) {
  ArchiveBuilder builder(1024);
  std::vector<DatFileEntry> entries;
  for (std::uint32_t i = 0; i < files; ++i) {
    Bytes contents(100 + i * 7919 % 4000);
    for (std::size_t b = 0; b < contents.size(); ++b) {
      contents[b] = static_cast<std::uint8_t>(i % 3 == 0 ? b / 16 : (b * 131 + i) >> 3);
    }
    entries.push_back(builder.store_file(0x0A000000 + i, contents, i % 3 == 0));
  }
  builder.header().root_offset = builder.store_tree(entries);
  builder.header().file_size = static_cast<std::uint32_t>(builder.size());
  return builder.image();
}

}  // namespace brackwater_dat::test_support
