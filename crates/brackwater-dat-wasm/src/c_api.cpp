// The WebAssembly module's whole surface: a small C interface over the
// library, used only by brackwater_dat.mjs. Handles are pointers into the
// module's memory; results that are bytes are fresh allocations the caller
// copies and releases with bw_free. Records (the header, entries, sound
// entries) are read by JavaScript where bw_layout says their fields lie. A
// failed call returns 0 (or null) and leaves its error for bw_error_* until
// the next failing call.
#include <algorithm>
#include <brackwater_dat/brackwater_dat.hpp>
#include <cstddef>
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

// Without exceptions a failed allocation traps; asking the allocator first
// (one thread, so the answer holds) makes it an error instead.
bool can_allocate(std::size_t bytes) {
  void* probe = std::malloc(std::max<std::size_t>(bytes, 1));
  if (probe == nullptr) {
    remember(io_failure(IoError::out_of_memory(bytes)));
    return false;
  }
  std::free(probe);
  return true;
}

// A fresh allocation of `size` bytes that `fill` writes, returning how many;
// that count in *length. Null, with the error remembered, when memory ran out
// or `fill` failed.
template <class Fill>
std::uint8_t* read_out(std::size_t size, std::uint32_t* length, Fill&& fill) {
  auto* out = static_cast<std::uint8_t*>(std::malloc(std::max<std::size_t>(size, 1)));
  if (out == nullptr) {
    remember(io_failure(IoError::out_of_memory(size)));
    return nullptr;
  }
  const Result<std::size_t> written = fill(std::span(out, size));
  if (!written) {
    std::free(out);
    remember(written.error());
    return nullptr;
  }
  *length = static_cast<std::uint32_t>(*written);
  return out;
}

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

// An open archive and its entries sorted by id, made once when asked for.
struct Archive {
  DatDatabase db;
  std::vector<EntryRecord> sorted;
  std::string header_problems;  // a line each, made once when asked for
};

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
BW_EXPORT(bw_error_not_found) int bw_error_not_found() { return last_error.not_found ? 1 : 0; }

// A buffer of `size` bytes for the caller to fill with an archive and hand to
// bw_open; null when memory ran out.
BW_EXPORT(bw_bytes_new) Bytes* bw_bytes_new(std::uint32_t size) {
  if (!can_allocate(std::size_t{size} + sizeof(Bytes))) return nullptr;
  return new Bytes(size);
}
BW_EXPORT(bw_bytes_data) std::uint8_t* bw_bytes_data(Bytes* bytes) { return bytes->data(); }

// Opens the archive in `bytes` (from bw_bytes_new), which the database
// adopts; the buffer is the caller's no longer, whatever happens. The
// directory is read on demand when `on_demand` is 1, else whole.
BW_EXPORT(bw_open) Archive* bw_open(Bytes* bytes, int on_demand) {
  auto db = DatDatabase::open_memory(
      std::move(*bytes), on_demand == 1 ? DirectoryLoading::on_demand : DirectoryLoading::whole);
  delete bytes;
  if (!db) {
    remember(db.error());
    return nullptr;
  }
  return new Archive{std::move(*db), {}, {}};
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

BW_EXPORT(bw_size) std::uint32_t bw_size(const Archive* archive) {
  return static_cast<std::uint32_t>(archive->db.directory().size());
}

BW_EXPORT(bw_has) int bw_has(const Archive* archive, std::uint32_t id) {
  return archive->db.find(id) ? 1 : 0;
}

// The entries sorted by id, bw_size of them; null when they cannot be listed.
BW_EXPORT(bw_entries) const EntryRecord* bw_entries(Archive* archive) {
  if (archive->sorted.size() != archive->db.directory().size()) {
    const auto entries = archive->db.entries();
    if (!entries) {
      remember(entries.error());
      return nullptr;
    }
    archive->sorted.clear();
    for (const DatFileEntry& e : *entries) {
      archive->sorted.push_back({e.id, e.bit_flags, e.offset, e.size, e.timestamp, e.version,
                                 file_type_of(e.id), is_compressed(e)});
    }
  }
  return archive->sorted.data();
}

// The file's contents read into a fresh allocation made once the read knows
// their size, of at most `capacity` bytes: a larger file is refused, naming
// both sizes.
BW_EXPORT(bw_read_file)
std::uint8_t* bw_read_file(const Archive* archive, std::uint32_t id, std::uint32_t capacity,
                           std::uint32_t* length) {
  std::uint8_t* out = nullptr;
  const auto written =
      archive->db.read_file(id, [&](std::size_t size) -> Result<std::span<std::uint8_t>> {
        const std::size_t room = std::min<std::size_t>(size, capacity);
        out = static_cast<std::uint8_t*>(std::malloc(std::max<std::size_t>(room, 1)));
        if (out == nullptr) return std::unexpected(io_failure(IoError::out_of_memory(room)));
        return std::span(out, room);
      });
  if (!written) {
    std::free(out);
    remember(written.error());
    return nullptr;
  }
  *length = static_cast<std::uint32_t>(*written);
  return out;
}

BW_EXPORT(bw_read_file_data)
std::uint8_t* bw_read_file_data(const Archive* archive, std::uint32_t first_block,
                                std::uint32_t size, std::uint32_t* length) {
  // More than the archive holds is refused before anything is allocated.
  if (size > archive->db.length()) {
    remember(archive->db.read_file_data(first_block, size).error());
    return nullptr;
  }
  return read_out(size, length, [&](std::span<std::uint8_t> out) -> Result<std::size_t> {
    if (auto read = archive->db.read_file_data(first_block, out); !read) {
      return std::unexpected(read.error());
    }
    return out.size();
  });
}

BW_EXPORT(bw_decompress_lrs)
std::uint8_t* bw_decompress_lrs(const std::uint8_t* input, std::uint32_t size,
                                std::uint32_t* length) {
  const ByteView stream(input, size);
  return read_out(utils::lrs_output_bound(stream), length,
                  [&](std::span<std::uint8_t> out) -> Result<std::size_t> {
                    return utils::decompress_lrs_into(stream, out);
                  });
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
