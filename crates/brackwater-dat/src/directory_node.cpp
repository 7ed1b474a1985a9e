#include "directory_node.hpp"

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

std::expected<DatFileEntry, ParseError> DirectoryNode::entry(std::uint32_t index) const {
  const std::uint64_t start = kEntriesOffset + std::uint64_t{index} * kEntryLength;
  const ByteView rest = start < bytes_.size() ? bytes_.subspan(start) : ByteView{};
  return record::read(rest, "DatFileEntry", kEntryLayout);
}

}  // namespace brackwater_dat
