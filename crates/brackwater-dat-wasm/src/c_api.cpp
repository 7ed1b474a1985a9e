// The WebAssembly module's whole surface: a small C interface over the
// library, used only by brackwater_dat.mjs. Handles are pointers into the
// module's memory; results that are bytes are fresh allocations the caller
// copies and releases with bw_free. A failed call returns 0 (or null) and
// leaves its error for bw_error_* until the next failing call.
#include <algorithm>
#include <brackwater_dat/brackwater_dat.hpp>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#define BW_EXPORT(name) extern "C" __attribute__((export_name(#name)))

namespace {

using namespace brackwater_dat;

// The last failure, for the caller to read once a call has returned 0.
struct LastError {
  std::string display;
  std::string debug;
  bool not_found = false;
} last_error;

void remember(const DatError& error) {
  last_error.display = display_text(error);
  last_error.debug = debug_text(error);
  last_error.not_found = std::holds_alternative<DatError::NotFound>(error.value);
}

void remember(const ParseError& error) {
  last_error.display = display_text(error);
  last_error.debug = debug_text(error);
  last_error.not_found = false;
}

void remember_out_of_memory(std::size_t bytes) {
  remember(DatError{DatError::Io{IoError::simple(
      IoErrorKind::OutOfMemory, "cannot allocate " + std::to_string(bytes) + " bytes")}});
}

// A copy of `bytes` in a fresh allocation, its length in *length; null when
// memory ran out.
std::uint8_t* hand_over(const Bytes& bytes, std::uint32_t* length) {
  auto* copy = static_cast<std::uint8_t*>(std::malloc(std::max<std::size_t>(bytes.size(), 1)));
  if (copy == nullptr) {
    remember_out_of_memory(bytes.size());
    return nullptr;
  }
  std::memcpy(copy, bytes.data(), bytes.size());
  *length = static_cast<std::uint32_t>(bytes.size());
  return copy;
}

std::uint8_t* hand_over(Result<Bytes>&& bytes, std::uint32_t* length) {
  if (!bytes) {
    remember(bytes.error());
    return nullptr;
  }
  return hand_over(*bytes, length);
}

// The archive's bytes where JavaScript copied them, owned from then on:
// opening keeps them instead of a second copy.
class CopiedBytes final : public Source {
 public:
  CopiedBytes(std::uint8_t* bytes, std::uint32_t length) noexcept
      : bytes_(bytes), length_(length) {}
  ~CopiedBytes() override { std::free(bytes_); }
  CopiedBytes(const CopiedBytes&) = delete;
  CopiedBytes& operator=(const CopiedBytes&) = delete;

  std::expected<std::size_t, IoError> read_at(std::uint64_t offset,
                                              std::span<std::uint8_t> buffer) const override {
    if (offset >= length_) return 0;
    const auto count =
        static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), length_ - offset));
    std::memcpy(buffer.data(), bytes_ + offset, count);
    return count;
  }
  std::expected<std::uint64_t, IoError> length() const override { return length_; }

 private:
  std::uint8_t* bytes_;
  std::uint32_t length_;
};

// An open archive and its entries sorted by id, made once when asked for.
struct Archive {
  DatDatabase db;
  std::vector<DatFileEntry> sorted;
};

// A decoded table and its kinds sorted, for walking from JavaScript.
struct Table {
  file_type::SoundTable table;
  std::vector<std::uint32_t> kinds;
};

}  // namespace

BW_EXPORT(bw_malloc) void* bw_malloc(std::uint32_t size) {
  return std::malloc(std::max<std::uint32_t>(size, 1));
}
BW_EXPORT(bw_free) void bw_free(void* pointer) { std::free(pointer); }

BW_EXPORT(bw_error_display) const char* bw_error_display() { return last_error.display.c_str(); }
BW_EXPORT(bw_error_debug) const char* bw_error_debug() { return last_error.debug.c_str(); }
BW_EXPORT(bw_error_not_found) int bw_error_not_found() { return last_error.not_found ? 1 : 0; }

// Takes ownership of `bytes` (from bw_malloc) whatever happens.
BW_EXPORT(bw_open) Archive* bw_open(std::uint8_t* bytes, std::uint32_t length) {
  auto db = DatDatabase::open_source(std::make_unique<CopiedBytes>(bytes, length));
  if (!db) {
    remember(db.error());
    return nullptr;
  }
  return new Archive{std::move(*db), {}};
}

BW_EXPORT(bw_close) void bw_close(Archive* archive) { delete archive; }

// The 80-byte header as stored: 15 words, 16 bytes, a word.
BW_EXPORT(bw_header) const DatHeader* bw_header(const Archive* archive) {
  static_assert(sizeof(DatHeader) == 80);
  return &archive->db.header();
}

BW_EXPORT(bw_size) std::uint32_t bw_size(const Archive* archive) {
  return static_cast<std::uint32_t>(archive->db.directory().size());
}

BW_EXPORT(bw_has) int bw_has(const Archive* archive, std::uint32_t id) {
  return archive->db.directory().contains(id) ? 1 : 0;
}

// The entries sorted by id, 24 bytes each in file order of their fields.
BW_EXPORT(bw_entries) const DatFileEntry* bw_entries(Archive* archive) {
  static_assert(sizeof(DatFileEntry) == 24);
  if (archive->sorted.size() != archive->db.directory().size()) {
    archive->sorted.clear();
    for (const auto& [id, entry] : archive->db.directory()) archive->sorted.push_back(entry);
    std::ranges::sort(archive->sorted, {}, &DatFileEntry::id);
  }
  return archive->sorted.data();
}

BW_EXPORT(bw_get_file)
std::uint8_t* bw_get_file(const Archive* archive, std::uint32_t id, std::uint32_t* length) {
  return hand_over(archive->db.get_file(id), length);
}

BW_EXPORT(bw_read_file_data)
std::uint8_t* bw_read_file_data(const Archive* archive, std::uint32_t first_block,
                                std::uint32_t size, std::uint32_t* length) {
  return hand_over(archive->db.read_file_data(first_block, size), length);
}

BW_EXPORT(bw_decompress_lrs)
std::uint8_t* bw_decompress_lrs(const std::uint8_t* input, std::uint32_t size,
                                std::uint32_t* length) {
  auto out = utils::try_decompress_lrs(ByteView(input, size));
  if (!out) {
    remember(DatError{DatError::Io{out.error()}});
    return nullptr;
  }
  return hand_over(*out, length);
}

BW_EXPORT(bw_sound_unpack) Table* bw_sound_unpack(const std::uint8_t* input, std::uint32_t size) {
  auto table = file_type::SoundTable::unpack(ByteView(input, size));
  if (!table) {
    remember(table.error());
    return nullptr;
  }
  auto* made = new Table{std::move(*table), {}};
  for (const auto& [kind, sound] : made->table.sounds()) made->kinds.push_back(kind);
  std::ranges::sort(made->kinds);
  return made;
}

BW_EXPORT(bw_sound_free) void bw_sound_free(Table* table) { delete table; }
BW_EXPORT(bw_sound_id) std::uint32_t bw_sound_id(const Table* table) { return table->table.id(); }
BW_EXPORT(bw_sound_hash_key) std::int32_t bw_sound_hash_key(const Table* table) {
  return table->table.hash_key();
}
BW_EXPORT(bw_sound_hash_count) std::uint32_t bw_sound_hash_count(const Table* table) {
  return static_cast<std::uint32_t>(table->table.hashes().size());
}
BW_EXPORT(bw_sound_kind_count) std::uint32_t bw_sound_kind_count(const Table* table) {
  return static_cast<std::uint32_t>(table->kinds.size());
}
BW_EXPORT(bw_sound_kinds) const std::uint32_t* bw_sound_kinds(const Table* table) {
  return table->kinds.data();
}

// A kind's entries, 16 bytes each (wave, priority, probability, volume), and
// their count in *count.
BW_EXPORT(bw_sound_entries)
const file_type::SoundEntry* bw_sound_entries(const Table* table, std::uint32_t kind,
                                              std::uint32_t* count) {
  static_assert(sizeof(file_type::SoundEntry) == 16);
  const auto& sound = table->table.sounds().at(kind);
  *count = static_cast<std::uint32_t>(sound.entries.size());
  return sound.entries.data();
}

BW_EXPORT(bw_sound_unknown) std::int32_t bw_sound_unknown(const Table* table, std::uint32_t kind) {
  return table->table.sounds().at(kind).unknown;
}

// 1 and the wave in *wave, or 0 for none.
BW_EXPORT(bw_sound_resolve)
int bw_sound_resolve(const Table* table, std::uint32_t kind, std::uint32_t* wave) {
  const auto resolved = table->table.resolve_sound(kind);
  if (!resolved) return 0;
  *wave = *resolved;
  return 1;
}
