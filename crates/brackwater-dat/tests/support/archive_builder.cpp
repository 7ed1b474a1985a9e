#include "support/archive_builder.hpp"

#include <algorithm>
#include <fstream>
#include <stdexcept>

#include "support/lrs_codec.hpp"

namespace brackwater_dat::test_support {
namespace {

constexpr std::size_t kNodeLength = 1716;

void store_u32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void append_u32(Bytes& out, std::uint32_t value) {
  out.resize(out.size() + 4);
  store_u32(out.data() + out.size() - 4, value);
}

Bytes encode_header(const DatHeader& h) {
  Bytes out;
  for (std::uint32_t value : {h.magic, h.block_size, h.file_size, h.dataset, h.subset, h.free_head,
                              h.free_tail, h.free_count, h.root_offset, h.new_lru, h.old_lru,
                              h.use_lru, h.master_map_id, h.engine_version, h.game_version}) {
    append_u32(out, value);
  }
  out.insert(out.end(), h.version_string.begin(), h.version_string.end());
  append_u32(out, h.version_minor);
  return out;
}

}  // namespace

Bytes encode_node(const NodeSpec& node) {
  Bytes out;
  for (std::uint32_t child : node.children) append_u32(out, child);
  append_u32(out, node.count.value_or(static_cast<std::uint32_t>(node.entries.size())));
  for (const auto& e : node.entries) {
    for (std::uint32_t value : {e.bit_flags, e.id, e.offset, e.size, e.timestamp, e.version}) {
      append_u32(out, value);
    }
  }
  if (out.size() > kNodeLength) throw std::invalid_argument("a node holds at most 61 entries");
  out.resize(kNodeLength);
  return out;
}

ArchiveBuilder::ArchiveBuilder(std::uint32_t block_size)
    : block_size_(block_size), image_(kFirstBlock) {
  header_.magic = kDatMagic;
  header_.block_size = block_size;
}

std::uint32_t ArchiveBuilder::allocate_block() {
  const auto offset = static_cast<std::uint32_t>(image_.size());
  image_.resize(image_.size() + block_size_);
  return offset;
}

void ArchiveBuilder::write_chain(std::span<const std::uint32_t> blocks, ByteView payload) {
  if (std::uint64_t{blocks.size()} * capacity() < payload.size()) {
    throw std::invalid_argument("the blocks cannot hold the payload");
  }
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    put_u32(blocks[i], i + 1 < blocks.size() ? blocks[i + 1] : 0);
    const std::size_t start = std::min(payload.size(), i * capacity());
    const std::size_t length = std::min<std::size_t>(capacity(), payload.size() - start);
    put_bytes(blocks[i] + 4, payload.subspan(start, length));
  }
}

std::uint32_t ArchiveBuilder::store_chain(ByteView payload, ChainLayout layout) {
  if (payload.empty()) return 0;
  const std::size_t count = (payload.size() + capacity() - 1) / capacity();
  std::vector<std::uint32_t> blocks;
  for (std::size_t i = 0; i < count; ++i) {
    if (layout == ChainLayout::Scattered) allocate_block();
    blocks.push_back(allocate_block());
  }
  if (layout == ChainLayout::Scattered) std::ranges::reverse(blocks);
  write_chain(blocks, payload);
  return blocks.front();
}

std::uint32_t ArchiveBuilder::store_node(const NodeSpec& node) {
  return store_chain(encode_node(node));
}

DatFileEntry ArchiveBuilder::store_file(std::uint32_t id, ByteView contents, bool compressed,
                                        ChainLayout layout) {
  const Bytes stored =
      compressed ? compress_lrs(contents) : Bytes(contents.begin(), contents.end());
  return DatFileEntry{.bit_flags = compressed ? 1u : 0u,
                      .id = id,
                      .offset = store_chain(stored, layout),
                      .size = static_cast<std::uint32_t>(stored.size()),
                      .timestamp = 0x5F000000 + id % 1000,
                      .version = 1};
}

std::uint32_t ArchiveBuilder::store_tree(std::span<const DatFileEntry> entries,
                                         std::size_t per_node) {
  if (!std::ranges::is_sorted(entries, {}, &DatFileEntry::id)) {
    std::vector<DatFileEntry> sorted(entries.begin(), entries.end());
    std::ranges::stable_sort(sorted, {}, &DatFileEntry::id);
    return store_tree(sorted, per_node);
  }
  NodeSpec node;
  if (entries.size() <= per_node) {
    node.entries.assign(entries.begin(), entries.end());
    return store_node(node);
  }
  // As few children as hold the rest about `per_node` each (at most 62),
  // separated by one entry apiece, as a B-tree fills.
  const std::size_t children =
      std::clamp<std::size_t>((entries.size() + per_node) / (per_node + 1), 2, 62);
  const std::size_t grouped = entries.size() - (children - 1);
  std::size_t at = 0;
  for (std::size_t g = 0; g < children; ++g) {
    const std::size_t length = grouped / children + (g < grouped % children ? 1 : 0);
    node.children[g] = store_tree(entries.subspan(at, length), per_node);
    at += length;
    if (g + 1 < children) node.entries.push_back(entries[at++]);
  }
  return store_node(node);
}

void ArchiveBuilder::put_u32(std::uint64_t offset, std::uint32_t value) {
  std::uint8_t bytes[4];
  store_u32(bytes, value);
  put_bytes(offset, bytes);
}

void ArchiveBuilder::put_bytes(std::uint64_t offset, ByteView bytes) {
  if (offset + bytes.size() > image_.size()) image_.resize(offset + bytes.size());
  std::ranges::copy(bytes, image_.begin() + static_cast<std::ptrdiff_t>(offset));
}

Bytes ArchiveBuilder::image() const {
  Bytes out = image_;
  const Bytes header = encode_header(header_);
  std::ranges::copy(header, out.begin() + 0x140);
  return out;
}

void ArchiveBuilder::write(const std::filesystem::path& path) const {
  const Bytes bytes = image();
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  if (!file) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace brackwater_dat::test_support
