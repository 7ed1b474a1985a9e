// The WebAssembly module's whole surface: a small C interface over the
// library, used only by brackwater_dat.mjs. Handles are pointers into the
// module's memory; results that are bytes are fresh allocations the caller
// copies and releases with bw_free. Records (the header, entries, sound
// entries) are read by JavaScript where bw_layout says their fields lie. A
// failed call returns null, 0 (bw_list) or -1 (bw_size), and leaves its
// error for bw_error_display, bw_error_debug and bw_error_code until the next
// failing call.
#include <algorithm>
#include <array>
#include <brackwater_dat/brackwater_dat.hpp>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "allocation.hpp"

#define BW_EXPORT(name) extern "C" __attribute__((export_name(#name)))

namespace {

using namespace brackwater_dat;

// The last failure, for the caller to read once a call has failed.
struct LastError {
  std::string display;
  std::string debug;
  ErrorCode code = ErrorCode::other;
} last_error;

void remember(const DatError& error) {
  last_error.display = display_text(error);
  last_error.debug = debug_text(error);
  last_error.code = error_code(error);
}

void remember(const ParseError& error) { remember(DatError{DatError::BinRead{error}}); }

// The fresh allocation a read fills, made once the read knows its size (at
// most `capacity` bytes: the read refuses a smaller buffer than it needs,
// naming both sizes) and handed to the caller, or freed.
class Allocation {
 public:
  explicit Allocation(std::size_t capacity = SIZE_MAX) noexcept : capacity_(capacity) {}
  ~Allocation() { std::free(data_); }
  Allocation(const Allocation&) = delete;
  Allocation& operator=(const Allocation&) = delete;

  DatDatabase::BufferFor maker() {
    return [this](std::size_t size) -> Result<std::span<std::uint8_t>> {
      const std::size_t room = std::min(size, capacity_);
      data_ = static_cast<std::uint8_t*>(std::malloc(std::max<std::size_t>(room, 1)));
      if (data_ == nullptr) return std::unexpected(io_failure(IoError::out_of_memory(room)));
      return std::span(data_, room);
    };
  }
  // The bytes, `written` of them in *length; or null with the error
  // remembered.
  template <class T>
  std::uint8_t* hand_over(const Result<T>& written, std::size_t count, std::uint32_t* length) {
    if (!written) {
      remember(written.error());
      return nullptr;
    }
    *length = static_cast<std::uint32_t>(count);
    return std::exchange(data_, nullptr);
  }

 private:
  std::size_t capacity_;
  std::uint8_t* data_ = nullptr;
};

// An entry as JavaScript reads it: the six fields, and its type and whether
// it is compressed as the library says.
struct EntryRecord {
  std::uint32_t id;
  std::uint32_t bit_flags;
  std::uint32_t offset;
  std::uint32_t size;
  std::uint32_t timestamp;
  std::uint32_t version;
  std::uint8_t type;
  std::uint8_t compressed;
};

// Reads of a source that JavaScript holds, by the number it gave the source:
// `target` gets up to `length` bytes at `offset`; the count read, or -1 when
// the source failed, whose message source_error then copies out (up to
// `capacity` bytes of UTF-8, returning the whole message's length).
extern "C" __attribute__((import_module("brackwater"), import_name("source_read"))) std::int32_t
js_source_read(std::uint32_t source, double offset, std::uint8_t* target, std::uint32_t length);
extern "C" __attribute__((import_module("brackwater"), import_name("source_error"))) std::uint32_t
js_source_error(std::uint32_t source, char* target, std::uint32_t capacity);
// The same for `count` parts (address and length, 32 bits each, at `parts`)
// filled in turn as one read would fill them: a chain's run of blocks, links
// and payloads, crosses into JavaScript once.
extern "C" __attribute__((import_module("brackwater"), import_name("source_read_parts")))
std::int32_t
js_source_read_parts(std::uint32_t source, double offset, const std::uint32_t* parts,
                     std::uint32_t count);

// Advice that a range will be read soon (Source::will_need), for a source
// that fetches it along with what its calls wait on.
extern "C" __attribute__((import_module("brackwater"), import_name("source_hint"))) void
js_source_hint(std::uint32_t source, double offset, double length);

// An archive's bytes where JavaScript has them, read in place: only the
// ranges a read asks for cross into the module's memory.
class JsSource final : public Source {
 public:
  JsSource(std::uint32_t source, std::uint64_t length) noexcept
      : source_(source), length_(length) {}

  std::expected<std::size_t, IoError> read_at(std::uint64_t offset,
                                              std::span<std::uint8_t> buffer) const override {
    if (offset >= length_) return 0;
    const auto count = static_cast<std::uint32_t>(
        std::min<std::uint64_t>({buffer.size(), length_ - offset, std::uint64_t{1} << 30}));
    const std::int32_t got =
        js_source_read(source_, static_cast<double>(offset), buffer.data(), count);
    if (got >= 0) return static_cast<std::size_t>(got);
    return std::unexpected(failure());
  }
  std::expected<std::uint64_t, IoError> length() const override { return length_; }
  void will_need(std::uint64_t offset, std::uint64_t length) const override {
    js_source_hint(source_, static_cast<double>(offset), static_cast<double>(length));
  }

  std::expected<std::size_t, IoError> read_scattered_at(
      std::uint64_t offset, std::span<const std::span<std::uint8_t>> parts) const override {
    if (offset >= length_) return 0;
    // Address and length of each part; the reader's parts total far below 2^31.
    std::array<std::uint32_t, 2 * 64> table;
    const std::size_t count = std::min(parts.size(), table.size() / 2);
    for (std::size_t i = 0; i < count; ++i) {
      table[2 * i] = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(parts[i].data()));
      table[2 * i + 1] = static_cast<std::uint32_t>(parts[i].size());
    }
    const std::int32_t got = js_source_read_parts(source_, static_cast<double>(offset),
                                                  table.data(), static_cast<std::uint32_t>(count));
    if (got >= 0) return static_cast<std::size_t>(got);
    return std::unexpected(failure());
  }

 private:
  IoError failure() const {
    std::string message(256, '\0');
    message.resize(std::min<std::size_t>(
        js_source_error(source_, message.data(), static_cast<std::uint32_t>(message.size())),
        message.size()));
    return IoError::simple(IoErrorKind::Other, std::move(message));
  }

  std::uint32_t source_;
  std::uint64_t length_;
};

// An open archive; its entries sorted by id, and its header's problems, made
// once when asked for; the last entry found.
struct Archive {
  DatDatabase db;
  std::vector<EntryRecord> sorted;
  bool listed = false;
  std::string header_problems;  // a line each
  EntryRecord found{};
};

EntryRecord record_of(const DatFileEntry& e) {
  return {e.id,        e.bit_flags, e.offset,           e.size,
          e.timestamp, e.version,   file_type_of(e.id), is_compressed(e)};
}

// A decoded table and its kinds sorted, for walking from JavaScript.
struct Table {
  file_type::SoundTable table;
  std::vector<std::uint32_t> kinds;
};

// Where each record's fields lie, as JSON: {"header": {"size": 80, "fields":
// [[name, offset, kind], ...]}, "entry": ..., "soundEntry": ...}, kinds u32,
// u8, f32, bool (a byte) and bytes16. Fields are listed in the order the
// JavaScript objects show them.
std::string layout_json() {
  struct Field {
    const char* name;
    std::size_t offset;
    const char* kind;
  };
  const auto record = [](const char* name, std::size_t size, std::initializer_list<Field> fields) {
    std::string json =
        "\"" + std::string(name) + "\": {\"size\": " + std::to_string(size) + ", \"fields\": [";
    const char* comma = "";
    for (const Field& field : fields) {
      json += comma + std::string("[\"") + field.name + "\", " + std::to_string(field.offset) +
              ", \"" + field.kind + "\"]";
      comma = ", ";
    }
    return json + "]}";
  };
// Each record's fields: F(member, name, kind) for the record type R in scope.
#define F(member, name, kind) \
  Field { name, offsetof(R, member), kind }
  const std::string header = [&] {
    using R = DatHeader;
    return record(
        "header", sizeof(R),
        {F(magic, "magic", "u32"), F(block_size, "blockSize", "u32"),
         F(file_size, "fileSize", "u32"), F(dataset, "dataset", "u32"), F(subset, "subset", "u32"),
         F(free_head, "freeHead", "u32"), F(free_tail, "freeTail", "u32"),
         F(free_count, "freeCount", "u32"), F(root_offset, "rootOffset", "u32"),
         F(new_lru, "newLru", "u32"), F(old_lru, "oldLru", "u32"), F(use_lru, "useLru", "u32"),
         F(master_map_id, "masterMapId", "u32"), F(engine_version, "engineVersion", "u32"),
         F(game_version, "gameVersion", "u32"), F(version_string, "versionString", "bytes16"),
         F(version_minor, "versionMinor", "u32")});
  }();
  const std::string entry = [&] {
    using R = EntryRecord;
    return record(
        "entry", sizeof(R),
        {F(id, "id", "u32"), F(type, "type", "u8"), F(bit_flags, "bitFlags", "u32"),
         F(compressed, "compressed", "bool"), F(offset, "offset", "u32"), F(size, "size", "u32"),
         F(timestamp, "timestamp", "u32"), F(version, "version", "u32")});
  }();
  const std::string sound_entry = [&] {
    using R = file_type::SoundEntry;
    return record("soundEntry", sizeof(R),
                  {F(wave_did, "waveDid", "u32"), F(priority, "priority", "f32"),
                   F(probability, "probability", "f32"), F(volume, "volume", "f32")});
  }();
#undef F
  return "{" + header + ", " + entry + ", " + sound_entry + "}";
}

}  // namespace

BW_EXPORT(bw_malloc) void* bw_malloc(std::uint32_t size) {
  return std::malloc(std::max<std::uint32_t>(size, 1));
}
BW_EXPORT(bw_free) void bw_free(void* pointer) { std::free(pointer); }

BW_EXPORT(bw_layout) const char* bw_layout() {
  static const std::string layout = layout_json();
  return layout.c_str();
}

BW_EXPORT(bw_error_display) const char* bw_error_display() { return last_error.display.c_str(); }
BW_EXPORT(bw_error_debug) const char* bw_error_debug() { return last_error.debug.c_str(); }
// The error's code as the library names it: "NotFound", "Io", ...
BW_EXPORT(bw_error_code) const char* bw_error_code() { return error_code_name(last_error.code); }

// Opens the archive that JavaScript's source `source` holds, of `length`
// bytes; the directory is read on demand when `on_demand` is 1, else whole.
BW_EXPORT(bw_open_source)
Archive* bw_open_source(std::uint32_t source, double length, int on_demand) {
  // Without exceptions a failed allocation traps: the library's guard asks
  // the allocator first.
  std::unique_ptr<JsSource> js_source;
  if (auto made = allocation::guarded(sizeof(Archive) + sizeof(JsSource),
                                      [&] {
                                        js_source = std::make_unique<JsSource>(
                                            source, static_cast<std::uint64_t>(length));
                                      });
      !made) {
    remember(io_failure(made.error()));
    return nullptr;
  }
  auto db = DatDatabase::open_source(
      std::move(js_source), on_demand == 1 ? DirectoryLoading::on_demand : DirectoryLoading::whole);
  if (!db) {
    remember(db.error());
    return nullptr;
  }
  return new Archive{std::move(*db), {}, false, {}, {}};
}

BW_EXPORT(bw_close) void bw_close(Archive* archive) { delete archive; }

BW_EXPORT(bw_header) const DatHeader* bw_header(const Archive* archive) {
  return &archive->db.header();
}

// What in the header does not look like an archive's, a line each, each line
// ending in "\n"; "" when it looks right.
BW_EXPORT(bw_header_problems) const char* bw_header_problems(Archive* archive) {
  if (archive->header_problems.empty()) {
    for (const std::string& problem : check_header(archive->db.header(), archive->db.length())) {
      archive->header_problems += problem + "\n";
    }
  }
  return archive->header_problems.c_str();
}

BW_EXPORT(bw_on_demand) int bw_on_demand(const Archive* archive) {
  return archive->db.loading() == DirectoryLoading::on_demand ? 1 : 0;
}

// The entry of file `id`, or null: NotFound when absent, or the lookup's
// error (on demand, a node's read or order).
BW_EXPORT(bw_find) const EntryRecord* bw_find(Archive* archive, std::uint32_t id) {
  const auto entry = archive->db.find(id);
  if (!entry) {
    remember(entry.error());
    return nullptr;
  }
  archive->found = record_of(*entry);
  return &archive->found;
}

// Lists the entries sorted by id, once (on demand, a walk of the whole
// tree): 1, and bw_entry_count and bw_entry_data give them; 0 when they
// cannot be listed.
BW_EXPORT(bw_list) int bw_list(Archive* archive) {
  if (!archive->listed) {
    const auto entries = archive->db.entries();
    if (!entries) {
      remember(entries.error());
      return 0;
    }
    if (auto room = allocation::reserve_for(archive->sorted, entries->size()); !room) {
      remember(io_failure(room.error()));
      return 0;
    }
    for (const DatFileEntry& e : *entries) archive->sorted.push_back(record_of(e));
    archive->listed = true;
  }
  return 1;
}

BW_EXPORT(bw_entry_count) std::uint32_t bw_entry_count(const Archive* archive) {
  return static_cast<std::uint32_t>(archive->sorted.size());
}
BW_EXPORT(bw_entry_data) const EntryRecord* bw_entry_data(const Archive* archive) {
  return archive->sorted.data();
}

// The number of files: read whole, the directory's; on demand, the listing's
// (so a walk of the whole tree, once); -1 when it cannot be had.
BW_EXPORT(bw_size) double bw_size(Archive* archive) {
  if (archive->db.loading() == DirectoryLoading::whole) {
    return static_cast<double>(archive->db.directory().size());
  }
  return bw_list(archive) == 1 ? static_cast<double>(archive->sorted.size()) : -1;
}

// The file's contents read into a fresh allocation made once the read knows
// their size, of at most `capacity` bytes: a larger file is refused, naming
// both sizes. With `strict`, a compressed file whose stream ends before its
// declared length fails rather than giving what decodes.
BW_EXPORT(bw_read_file)
std::uint8_t* bw_read_file(const Archive* archive, std::uint32_t id, std::uint32_t capacity,
                           int strict, std::uint32_t* length) {
  Allocation out(capacity);
  const auto written =
      archive->db.read_file(id, out.maker(), strict ? ShortStream::fail : ShortStream::keep);
  return out.hand_over(written, written ? *written : 0, length);
}

BW_EXPORT(bw_read_file_data)
std::uint8_t* bw_read_file_data(const Archive* archive, std::uint32_t first_block,
                                std::uint32_t size, std::uint32_t* length) {
  Allocation out;
  return out.hand_over(archive->db.read_file_data(first_block, size, out.maker()), size, length);
}

BW_EXPORT(bw_decompress_lrs)
std::uint8_t* bw_decompress_lrs(const std::uint8_t* input, std::uint32_t size,
                                std::uint32_t* length) {
  const ByteView stream(input, size);
  Allocation out;
  const auto room = out.maker()(utils::lrs_output_bound(stream));
  return out.hand_over(room, room ? utils::decompress_lrs_into(stream, *room) : 0, length);
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

// A kind's entries, as the layout's soundEntry records, and their count in *count.
BW_EXPORT(bw_sound_entries)
const file_type::SoundEntry* bw_sound_entries(const Table* table, std::uint32_t kind,
                                              std::uint32_t* count) {
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
