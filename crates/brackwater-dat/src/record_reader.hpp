#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <expected>
#include <optional>
#include <source_location>
#include <string>
#include <string_view>
#include <variant>

#include "brackwater_dat/bytes.hpp"
#include "brackwater_dat/error.hpp"
#include "coding.hpp"
#include "errors.hpp"

// Reads (and writes) fixed-layout records field by field: little-endian, packed, in
// declaration order. A field that the bytes do not fully hold fails the
// record with a frame naming that field and record.
namespace brackwater_dat::record {

using Word = std::uint32_t;
using Array16 = std::array<std::uint8_t, 16>;

template <class Record>
struct Field {
  std::string_view name;
  std::variant<Word Record::*, Array16 Record::*> member;
  std::source_location declared;
};

// Declares one field of a record layout; its frame points here.
template <class Record, class Member>
consteval Field<Record> field(std::string_view name, Member Record::*member,
                              std::source_location declared = std::source_location::current()) {
  return Field<Record>{name, member, declared};
}

// Decodes `Record` from the front of `bytes`. `end_error` is what stopped the
// source short of a full record, if not the end of its data.
template <class Record, std::size_t N>
std::expected<Record, ParseError> read(ByteView bytes, std::string_view record_name,
                                       const std::array<Field<Record>, N>& layout,
                                       const std::optional<IoError>& end_error = std::nullopt) {
  Record record{};
  for (const auto& field : layout) {
    const bool is_word = std::holds_alternative<Word Record::*>(field.member);
    const std::size_t width = is_word ? sizeof(Word) : sizeof(Array16);
    if (bytes.size() < width) {
      IoError cause =
          end_error ? *end_error
          : is_word ? unexpected_eof()
                    : IoError::simple(IoErrorKind::UnexpectedEof, "not enough bytes in reader");
      ParseFrame frame{
          "While parsing field '" + std::string(field.name) + "' in " + std::string(record_name),
          field.declared.file_name(), field.declared.line()};
      return std::unexpected(ParseError(std::move(cause), {std::move(frame)}));
    }
    if (is_word) {
      record.*std::get<Word Record::*>(field.member) = coding::load_u32(bytes.data());
    } else {
      std::memcpy((record.*std::get<Array16 Record::*>(field.member)).data(), bytes.data(), width);
    }
    bytes = bytes.subspan(width);
  }
  return record;
}

// Encodes `record` into the front of `out`, which holds the whole layout: the
// same fields at the same places as read() takes them from.
template <class Record, std::size_t N>
void write(const Record& record, const std::array<Field<Record>, N>& layout, std::uint8_t* out) {
  for (const auto& field : layout) {
    if (const auto* word = std::get_if<Word Record::*>(&field.member)) {
      coding::store_u32(out, record.**word);
      out += sizeof(Word);
    } else {
      const Array16& array = record.*std::get<Array16 Record::*>(field.member);
      std::memcpy(out, array.data(), array.size());
      out += array.size();
    }
  }
}

}  // namespace brackwater_dat::record
