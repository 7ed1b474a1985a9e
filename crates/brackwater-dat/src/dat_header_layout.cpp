#include "dat_header_layout.hpp"

#include "record_reader.hpp"

namespace brackwater_dat {
namespace {

using record::field;

constexpr std::array kLayout = {
    field("magic", &DatHeader::magic),
    field("block_size", &DatHeader::block_size),
    field("file_size", &DatHeader::file_size),
    field("dataset", &DatHeader::dataset),
    field("subset", &DatHeader::subset),
    field("free_head", &DatHeader::free_head),
    field("free_tail", &DatHeader::free_tail),
    field("free_count", &DatHeader::free_count),
    field("root_offset", &DatHeader::root_offset),
    field("new_lru", &DatHeader::new_lru),
    field("old_lru", &DatHeader::old_lru),
    field("use_lru", &DatHeader::use_lru),
    field("master_map_id", &DatHeader::master_map_id),
    field("engine_version", &DatHeader::engine_version),
    field("game_version", &DatHeader::game_version),
    field("version_string", &DatHeader::version_string),
    field("version_minor", &DatHeader::version_minor),
};

}  // namespace

std::expected<DatHeader, ParseError> decode_header(ByteView bytes,
                                                   const std::optional<IoError>& end_error) {
  return record::read(bytes, "DatHeader", kLayout, end_error);
}

std::array<std::uint8_t, kHeaderLength> encode_header(const DatHeader& header) {
  std::array<std::uint8_t, kHeaderLength> bytes{};
  record::write(header, kLayout, bytes.data());
  return bytes;
}

}  // namespace brackwater_dat
