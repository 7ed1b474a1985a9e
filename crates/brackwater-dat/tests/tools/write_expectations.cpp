// Writes what the native reader answers for an archive, as JSON, so that the
// language bindings' tests can compare their answers with it:
//
//   write_expectations ARCHIVE OUT.json
//
// {"header": {17 fields; version_string as hex}, "entries": [[id, bit_flags,
// offset, size, timestamp, version], ...] sorted by id, "files": {"<id>":
// "<hex>" or {"error": "<debug text>"}}, "tables": {"<id>": {"id", "hash_key",
// "hash_count", "hashes": {"<key>": [w0, w1, w2]}, "sounds": {"<kind>":
// {"unknown", "entries": [[wave, priority bits, probability bits, volume
// bits]]}}, "resolutions": {"<kind>": wave or null} for kinds 0..204}}}
// Numbers are decimal; floats are their 32-bit patterns.
#include <algorithm>
#include <bit>
#include <brackwater_dat/brackwater_dat.hpp>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>

namespace {

using namespace brackwater_dat;

std::string hex_bytes(ByteView bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(2 * bytes.size());
  for (const std::uint8_t byte : bytes) {
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0xF];
  }
  return out;
}

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

void write_table(std::ostream& out, const file_type::SoundTable& table) {
  out << "{\"id\": " << table.id() << ", \"hash_key\": " << table.hash_key()
      << ", \"hash_count\": " << table.hashes().size() << ", \"hashes\": {";
  const std::map<std::uint32_t, file_type::HashRow> hashes(table.hashes().begin(),
                                                           table.hashes().end());
  const char* comma = "";
  for (const auto& [key, row] : hashes) {
    out << comma << "\"" << key << "\": [" << row.words[0] << ", " << row.words[1] << ", "
        << row.words[2] << "]";
    comma = ", ";
  }
  out << "}, \"sounds\": {";
  const std::map<std::uint32_t, file_type::SoundData> sounds(table.sounds().begin(),
                                                             table.sounds().end());
  comma = "";
  for (const auto& [kind, sound] : sounds) {
    out << comma << "\"" << kind << "\": {\"unknown\": " << sound.unknown << ", \"entries\": [";
    const char* inner = "";
    for (const auto& entry : sound.entries) {
      out << inner << "[" << entry.wave_did << ", " << std::bit_cast<std::uint32_t>(entry.priority)
          << ", " << std::bit_cast<std::uint32_t>(entry.probability) << ", "
          << std::bit_cast<std::uint32_t>(entry.volume) << "]";
      inner = ", ";
    }
    out << "]}";
    comma = ", ";
  }
  out << "}, \"resolutions\": {";
  for (std::uint32_t kind = 0; kind <= 204; ++kind) {
    const auto wave = table.resolve_sound(kind);
    out << (kind ? ", " : "") << "\"" << kind << "\": ";
    if (wave) {
      out << *wave;
    } else {
      out << "null";
    }
  }
  out << "}}";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: " << argv[0] << " ARCHIVE OUT.json\n";
    return 2;
  }
  const auto db = DatDatabase::open(argv[1]);
  if (!db) {
    std::cerr << display_text(db.error()) << '\n';
    return 1;
  }
  std::ostringstream out;
  const DatHeader& h = db->header();
  out << "{\"header\": {\"magic\": " << h.magic << ", \"block_size\": " << h.block_size
      << ", \"file_size\": " << h.file_size << ", \"dataset\": " << h.dataset
      << ", \"subset\": " << h.subset << ", \"free_head\": " << h.free_head
      << ", \"free_tail\": " << h.free_tail << ", \"free_count\": " << h.free_count
      << ", \"root_offset\": " << h.root_offset << ", \"new_lru\": " << h.new_lru
      << ", \"old_lru\": " << h.old_lru << ", \"use_lru\": " << h.use_lru
      << ", \"master_map_id\": " << h.master_map_id << ", \"engine_version\": " << h.engine_version
      << ", \"game_version\": " << h.game_version << ", \"version_string\": \""
      << hex_bytes(h.version_string) << "\", \"version_minor\": " << h.version_minor << "},\n";

  const std::vector<DatFileEntry> entries = db->entries().value();
  out << "\"entries\": [";
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const DatFileEntry& e = entries[i];
    out << (i ? ", " : "") << "[" << e.id << ", " << e.bit_flags << ", " << e.offset << ", "
        << e.size << ", " << e.timestamp << ", " << e.version << "]";
  }
  out << "],\n\"files\": {";
  std::map<std::uint32_t, file_type::SoundTable> tables;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::uint32_t id = entries[i].id;
    out << (i ? ",\n" : "") << "\"" << id << "\": ";
    const auto file = db->get_file(id);
    if (!file) {
      out << "{\"error\": " << quoted(debug_text(file.error())) << "}";
      continue;
    }
    out << "\"" << hex_bytes(*file) << "\"";
    if (file_type_of(id) == 0x20) {
      if (auto table = file_type::SoundTable::unpack(*file)) tables.emplace(id, std::move(*table));
    }
  }
  out << "},\n\"tables\": {";
  const char* comma = "";
  for (const auto& [id, table] : tables) {
    out << comma << "\"" << id << "\": ";
    write_table(out, table);
    comma = ",\n";
  }
  out << "}}\n";
  std::ofstream(argv[2], std::ios::binary) << out.str();
  return 0;
}
