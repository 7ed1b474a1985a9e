#include "sound_command.hpp"

#include <algorithm>
#include <brackwater_dat/file_type/sound_table.hpp>
#include <optional>
#include <set>

#include "archive.hpp"
#include "json_output.hpp"
#include "text_format.hpp"

namespace brackwater_dat::cli {
namespace {

using file_type::SoundTable;

constexpr std::uint8_t kSoundTableType = 0x20;

// Why a table's bytes do not decode, after its name: that they run out
// inside a record, in the table's terms, or the library's words (--debug).
std::string table_failure_text(const ParseError& error, ByteView bytes) {
  const DatError as_read{DatError::BinRead{error}};
  if (error.cause().kind() != IoErrorKind::UnexpectedEof ||
      error_text(as_read) != display_text(as_read)) {
    return ": " + error_text(as_read);
  }
  return " is cut short: its " + counted(bytes.size(), "byte") + " end inside a record";
}

// The table `id` of the archive, decoded; none after reporting why not.
std::optional<SoundTable> load_table(const std::string& archive, const TypedId& id, bool on_demand,
                                     bool any_header) {
  const auto db = open_archive(
      archive, {on_demand ? DirectoryLoading::on_demand : DirectoryLoading::whole, !any_header});
  if (!db) return std::nullopt;
  if (const auto entry = db->find(id.value); !entry) {
    report_error(failure_text(*db, id, entry.error()));
    return std::nullopt;
  }
  // Another type's bytes would decode to nonsense or fail deep inside a record.
  if (file_type_of(id.value) != kSoundTableType) {
    report_error(hex_id(id.value) + " is of type " + format_type(file_type_of(id.value)) +
                 ", not a sound table (type " + format_type(kSoundTableType) + ")");
    return std::nullopt;
  }
  // A table whose stream ends early is cut short: the read says by how much.
  const auto bytes = db->get_file(id.value, ShortStream::fail);
  if (!bytes) {
    report_error(error_text(bytes.error()));
    return std::nullopt;
  }
  auto table = SoundTable::unpack(*bytes);
  if (!table) {
    report_error("sound table " + hex_id(id.value) + table_failure_text(table.error(), *bytes));
    return std::nullopt;
  }
  return std::move(*table);
}

// Says so when a kind typed in decimal is not in the table but its digits
// read as hex are.
void note_mistyped_kinds(const SoundTable& table, const std::vector<TypedId>& kinds) {
  const auto known = [&](std::uint32_t kind) { return table.sounds().contains(kind); };
  for (const TypedId& kind : kinds) {
    if (known(kind.value)) continue;
    if (const std::string hint = kind.suggestion(known, format_kind); !hint.empty()) {
      report_warning("no kind " + format_kind(kind.value) + " in the table" + hint);
    }
  }
}

std::string wave_text(std::optional<std::uint32_t> wave) {
  return wave ? hex_id(*wave) : std::string("none");
}

}  // namespace

ExitStatus run_sound(const SoundOptions& options) {
  const auto table =
      load_table(options.archive, options.table, options.on_demand, options.any_header);
  if (!table) return ExitStatus::Failure;
  note_mistyped_kinds(*table, options.kinds);
  // Every kind in order, or those asked for in the order asked, each once.
  std::vector<std::uint32_t> kinds;
  if (options.kinds.empty()) {
    for (const auto& [kind, data] : table->sounds()) kinds.push_back(kind);
    std::ranges::sort(kinds);
  } else {
    std::set<std::uint32_t> seen;
    for (const TypedId& kind : options.kinds) {
      if (table->sounds().contains(kind.value) && seen.insert(kind.value).second) {
        kinds.push_back(kind.value);
      }
    }
  }

  if (options.json) {
    Json sounds = Json::array();
    for (const std::uint32_t kind : kinds) {
      const auto& data = table->sounds().at(kind);
      Json entries = Json::array();
      for (const auto& e : data.entries) {
        entries.push_back({{"wave_did", e.wave_did},
                           {"priority", json_float(e.priority)},
                           {"probability", json_float(e.probability)},
                           {"volume", json_float(e.volume)}});
      }
      const auto wave = table->resolve_sound(kind);
      sounds.push_back({{"kind", kind},
                        {"wave", wave ? Json(*wave) : Json(nullptr)},
                        {"unknown", data.unknown},
                        {"entries", entries}});
    }
    const Json document = {{"id", table->id()},
                           {"hash_key", table->hash_key()},
                           {"hashes", table->hashes().size()},
                           {"sounds", sounds}};
    return deliver(json_text(document), ExitStatus::Success);
  }

  std::string out = "id: " + hex_id(table->id()) +
                    "\nhash_key: " + std::to_string(table->hash_key()) +
                    "\nhashes: " + std::to_string(table->hashes().size()) + "\n";
  for (const std::uint32_t kind : kinds) {
    const auto& data = table->sounds().at(kind);
    out += "sound " + format_kind(kind) + ": wave " + wave_text(table->resolve_sound(kind)) +
           ", unknown " + std::to_string(data.unknown) + "\n";
    for (const auto& e : data.entries) {
      out += "  " + hex_id(e.wave_did) + " priority " + format_float(e.priority) + " probability " +
             format_float(e.probability) + " volume " + format_float(e.volume) + "\n";
    }
  }
  return deliver(out, ExitStatus::Success);
}

ExitStatus run_resolve(const ResolveOptions& options) {
  const auto table =
      load_table(options.archive, options.table, options.on_demand, options.any_header);
  if (!table) return ExitStatus::Failure;
  note_mistyped_kinds(*table, options.kinds);
  if (options.json) {
    Json waves = Json::array();
    for (const TypedId& kind : options.kinds) {
      const auto wave = table->resolve_sound(kind.value);
      waves.push_back({{"kind", kind.value}, {"wave", wave ? Json(*wave) : Json(nullptr)}});
    }
    return deliver(json_text({{"id", table->id()}, {"waves", waves}}), ExitStatus::Success);
  }
  std::string out;
  for (const TypedId& kind : options.kinds) {
    out += format_kind(kind.value) + " " + wave_text(table->resolve_sound(kind.value)) + "\n";
  }
  return deliver(out, ExitStatus::Success);
}

}  // namespace brackwater_dat::cli
