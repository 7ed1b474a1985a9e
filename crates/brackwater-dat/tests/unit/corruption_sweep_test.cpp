// Every single-byte corruption and every truncation of a small valid archive
// opens to a value or an error, never a crash, hang or runaway allocation
// (the sanitizer builds watch for the rest).
#include <gtest/gtest.h>

#include <brackwater_dat/dat_database.hpp>
#include <brackwater_dat/file_type/sound_table.hpp>
#include <map>
#include <optional>
#include <variant>

#include "support/archive_builder.hpp"
#include "support/memory_file.hpp"
#include "support/sound_table_builder.hpp"

namespace {

using namespace brackwater_dat;
using test_support::ArchiveBuilder;

// Each file's bytes, or its error's text; the open error's text when it fails.
using Outcome = std::variant<std::string, std::map<std::uint32_t, std::string>>;

Outcome read_all(const std::string& path) {
  const auto db = DatDatabase::open(path);
  if (!db) return debug_text(db.error());
  std::map<std::uint32_t, std::string> files;
  for (const auto& [id, entry] : db->directory()) {
    const auto file = db->get_file(id);
    if (!file) {
      files[id] = debug_text(file.error());
      continue;
    }
    files[id] = std::string(file->begin(), file->end());
    if (id >> 24 == 0x20) {
      const auto table = file_type::SoundTable::unpack(*file);
      if (table) {
        for (std::uint32_t kind = 0; kind <= 204; ++kind) (void)table->resolve_sound(kind);
      }
    }
  }
  return files;
}

Bytes small_archive() {
  using file_type::SoundEntry;
  ArchiveBuilder builder(256);
  std::vector<DatFileEntry> entries;
  const test_support::SoundTablePayload table{
      .sounds = {{0x58, {SoundEntry{0x0A000262, 1, 1, 1}}, 0}, {0x46, {}, 0}}};
  entries.push_back(builder.store_file(0x20000001, test_support::encode_sound_table(table), true));
  entries.push_back(builder.store_file(0x20000002, test_support::encode_sound_table(table), false));
  for (std::uint32_t i = 0; i < 6; ++i) {
    Bytes contents(100 + 90 * i, static_cast<std::uint8_t>('a' + i));
    entries.push_back(builder.store_file(0x0A000000 + i, contents, i % 2 == 0,
                                         test_support::ChainLayout::Scattered));
  }
  builder.header().root_offset = builder.store_tree(entries, 3);
  return builder.image();
}

class CorruptionSweep : public ::testing::Test {
 protected:
  void SetUp() override {
    original_ = small_archive();
    file_.assign(original_);
    baseline_ = read_all(file_.path());
    ASSERT_EQ(baseline_.index(), 1u) << std::get<0>(baseline_);
  }

  Outcome with(const Bytes& image) {
    file_.assign(image);
    return read_all(file_.path());
  }

  Bytes original_;
  Outcome baseline_;
  test_support::MemoryFile file_;
};

bool in_field(std::size_t offset, std::size_t field) {
  return offset >= field && offset < field + 4;
}

TEST_F(CorruptionSweep, EverySingleByteChange) {
  for (std::size_t offset = 0; offset < original_.size(); ++offset) {
    for (const bool flip : {true, false}) {
      const std::uint8_t changed = flip ? original_[offset] ^ 0xFF : 0x00;
      file_.write_at(offset, ByteView(&changed, 1));
      const Outcome outcome = read_all(file_.path());
      file_.write_at(offset, ByteView(&original_[offset], 1));
      // The bytes before the header are never read; block_size and
      // root_offset steer every read, so any change to them shows.
      if (offset < 0x140) {
        ASSERT_EQ(outcome, baseline_) << offset;
      }
      if (changed != original_[offset] && (in_field(offset, 0x144) || in_field(offset, 0x160))) {
        ASSERT_NE(outcome, baseline_) << offset;
      }
    }
  }
}

TEST_F(CorruptionSweep, EveryTruncation) {
  for (std::size_t length = 0; length < original_.size(); ++length) {
    const Outcome outcome = with(Bytes(original_.begin(), original_.begin() + length));
    if (length < 0x190) {
      EXPECT_EQ(outcome.index(), 0u) << length;  // no header, no archive
    }
  }
  EXPECT_EQ(with(original_), baseline_);
}

}  // namespace
