#include "directory_node.hpp"

#include <algorithm>

#include "coding.hpp"
#include "record_reader.hpp"

namespace brackwater_dat {
namespace {

using record::field;

constexpr std::size_t kCountOffset = 4 * DirectoryNode::kChildCount;
constexpr std::size_t kEntriesOffset = kCountOffset + 4;
constexpr std::size_t kEntryLength = 24;

constexpr std::array kEntryLayout = {
    field("bit_flags", &DatFileEntry::bit_flags), field("id", &DatFileEntry::id),
    field("offset", &DatFileEntry::offset),       field("size", &DatFileEntry::size),
    field("timestamp", &DatFileEntry::timestamp), field("version", &DatFileEntry::version),
};

}  // namespace

std::uint32_t DirectoryNode::child(std::size_t index) const noexcept {
  return coding::load_u32(bytes_.data() + 4 * index);
}

std::uint32_t DirectoryNode::entry_count() const noexcept {
  return coding::load_u32(bytes_.data() + kCountOffset);
}

// The field-by-field reader gives a cut entry its exact error; a whole one is
// read directly, in the layout's order.
static_assert(kEntryLayout[0].name == "bit_flags" && kEntryLayout[1].name == "id" &&
              kEntryLayout[2].name == "offset" && kEntryLayout[3].name == "size" &&
              kEntryLayout[4].name == "timestamp" && kEntryLayout[5].name == "version");

std::expected<DatFileEntry, ParseError> DirectoryNode::entry(std::uint32_t index) const {
  const std::uint64_t start = kEntriesOffset + std::uint64_t{index} * kEntryLength;
  if (start + kEntryLength <= bytes_.size()) {
    const std::uint8_t* at = bytes_.data() + start;
    return DatFileEntry{coding::load_u32(at),      coding::load_u32(at + 4),
                        coding::load_u32(at + 8),  coding::load_u32(at + 12),
                        coding::load_u32(at + 16), coding::load_u32(at + 20)};
  }
  const ByteView rest = start < bytes_.size() ? bytes_.subspan(start) : ByteView{};
  return record::read(rest, "DatFileEntry", kEntryLayout);
}

void DirectoryNode::encode(std::span<const std::uint32_t> children,
                           std::span<const DatFileEntry> entries,
                           std::span<std::uint8_t, kLength> out) {
  std::fill(out.begin(), out.end(), std::uint8_t{0});
  for (std::size_t i = 0; i < children.size(); ++i)
    coding::store_u32(out.data() + 4 * i, children[i]);
  coding::store_u32(out.data() + kCountOffset, static_cast<std::uint32_t>(entries.size()));
  for (std::size_t i = 0; i < entries.size(); ++i) {
    record::write(entries[i], kEntryLayout, out.data() + kEntriesOffset + i * kEntryLength);
  }
}

}  // namespace brackwater_dat
