#include "brackwater_dat/file_type/sound_table.hpp"

#include <algorithm>
#include <bit>

#include "coding.hpp"
#include "errors.hpp"

namespace brackwater_dat::file_type {
namespace {

constexpr std::size_t kHashRecordLength = 16;
constexpr std::size_t kSoundRecordMinimum = 12;
constexpr std::size_t kEntryLength = 16;

// A forward pass over the payload, one whole 4-byte field at a time. The first
// field that the bytes do not hold ends the pass: every later read yields 0
// and ok() turns false, so loops stop and the caller reports the failure.
class Cursor {
 public:
  explicit Cursor(ByteView bytes) noexcept : bytes_(bytes) {}

  bool ok() const noexcept { return ok_; }

  std::uint32_t u32() noexcept {
    if (!ok_ || bytes_.size() - at_ < 4) {
      ok_ = false;
      return 0;
    }
    const std::uint32_t value = coding::load_u32(bytes_.data() + at_);
    at_ += 4;
    return value;
  }
  std::int32_t i32() noexcept { return static_cast<std::int32_t>(u32()); }
  float f32() noexcept { return std::bit_cast<float>(u32()); }

  // At most this many records of `length` bytes can still follow, which
  // bounds what a count read from the payload may reserve.
  std::size_t room_for(std::size_t length) const noexcept { return (bytes_.size() - at_) / length; }

 private:
  ByteView bytes_;
  std::size_t at_ = 0;
  bool ok_ = true;
};

std::size_t reservation(std::int64_t count, std::size_t room) {
  return static_cast<std::size_t>(
      std::clamp<std::int64_t>(count, 0, static_cast<std::int64_t>(room)));
}

SoundData read_sound(Cursor& cursor, std::uint32_t count) {
  SoundData data{};
  data.entries.reserve(reservation(count, cursor.room_for(kEntryLength)));
  for (std::uint32_t k = 0; k < count && cursor.ok(); ++k) {
    SoundEntry entry{};
    entry.wave_did = cursor.u32();
    entry.priority = cursor.f32();
    entry.probability = cursor.f32();
    entry.volume = cursor.f32();
    data.entries.push_back(entry);
  }
  data.unknown = cursor.i32();
  return data;
}

}  // namespace

std::expected<SoundTable, ParseError> SoundTable::unpack(ByteView bytes) {
  Cursor cursor(bytes);
  SoundTable table;
  table.id_ = cursor.u32();
  table.hash_key_ = cursor.i32();

  const std::int32_t hash_count = cursor.i32();
  table.hashes_.reserve(reservation(hash_count, cursor.room_for(kHashRecordLength)));
  for (std::int32_t i = 0; i < hash_count && cursor.ok(); ++i) {
    const std::uint32_t key = cursor.u32();
    HashRow row{};
    for (auto& word : row.words) word = cursor.u32();
    table.hashes_.insert_or_assign(key, row);
  }

  const std::int32_t sound_count = cursor.i32();
  table.sounds_.reserve(reservation(sound_count, cursor.room_for(kSoundRecordMinimum)));
  for (std::int32_t i = 0; i < sound_count && cursor.ok(); ++i) {
    const std::uint32_t kind = cursor.u32();
    const std::uint32_t count = cursor.u32();
    table.sounds_.insert_or_assign(kind, read_sound(cursor, count));
  }

  if (!cursor.ok()) return std::unexpected(ParseError(unexpected_eof()));
  return table;
}

std::optional<std::uint32_t> SoundTable::resolve_sound(std::uint32_t sound) const noexcept {
  if (sounds_.empty()) return std::nullopt;
  const auto found = sounds_.find(sound);
  if (found == sounds_.end() || found->second.entries.empty()) return std::nullopt;
  const std::uint32_t wave = found->second.entries.front().wave_did;
  if (wave == 0) return std::nullopt;
  return wave;
}

}  // namespace brackwater_dat::file_type
