// Every single-byte corruption and every truncation of a small valid archive
// opens to a value or an error, never a crash, hang or runaway allocation
// (the sanitizer builds watch for the rest).
#include <gtest/gtest.h>

#include <brackwater_dat/dat_database.hpp>
#include <brackwater_dat/file_type/sound_table.hpp>

#include "support/archive_builder.hpp"
#include "support/read_every_file.hpp"
#include "support/sound_table_builder.hpp"
#include "unit/archive_test.hpp"

namespace {

using namespace brackwater_dat;
using test_support::ArchiveBuilder;

using test_support::ArchiveOutcome;

// Every file of the image read from memory, and every sound table decoded and asked.
ArchiveOutcome read_all(const Bytes& image) {
  ArchiveOutcome outcome = test_support::read_every_file(DatDatabase::open_memory(image));
  for (const auto& [id, file] : outcome.files) {
    if (file_type_of(id) != 0x20) continue;
    if (const auto table = file_type::SoundTable::unpack(file)) {
      for (std::uint32_t kind = 0; kind <= 204; ++kind) (void)table->resolve_sound(kind);
    }
  }
  return outcome;
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
    baseline_ = read_all(original_);
    ASSERT_FALSE(baseline_.open_error.has_value()) << *baseline_.open_error;
  }

  // The image read from memory; written to a file and opened by path, it
  // must answer exactly alike, and opened on demand, alike where its
  // directory is still a search tree.
  ArchiveOutcome with(const Bytes& image) {
    ArchiveOutcome outcome = read_all(image);
    if (const auto whole = DatDatabase::open_memory(image)) {
      const auto read_file = test_support::read_file_disagreement(*whole);
      EXPECT_FALSE(read_file) << *read_file;
      const auto on_demand = DatDatabase::open_memory(image, DirectoryLoading::on_demand);
      EXPECT_TRUE(on_demand);  // it reads only the header, which the whole open read too
      const auto disagreement = test_support::on_demand_disagreement(*whole, *on_demand);
      EXPECT_FALSE(disagreement) << *disagreement;
    }
    test_support::write_bytes(path(), image);
    EXPECT_EQ(test_support::read_every_file(DatDatabase::open(path())), outcome);
    return outcome;
  }

  std::filesystem::path path() const { return dir_ / "archive.dat"; }

  Bytes original_;
  ArchiveOutcome baseline_;
  test_support::TempDir dir_;
};

bool in_field(std::size_t offset, std::size_t field) {
  return offset >= field && offset < field + 4;
}

TEST_F(CorruptionSweep, EverySingleByteChange) {
  for (std::size_t offset = 0; offset < original_.size(); ++offset) {
    for (const bool flip : {true, false}) {
      Bytes image = original_;
      image[offset] = flip ? original_[offset] ^ 0xFF : 0x00;
      const std::uint8_t changed = image[offset];
      const ArchiveOutcome outcome = with(image);
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
    const ArchiveOutcome outcome = with(Bytes(original_.begin(), original_.begin() + length));
    if (length < 0x190) {
      EXPECT_TRUE(outcome.open_error.has_value()) << length;  // no header, no archive
    }
  }
  EXPECT_EQ(with(original_), baseline_);
}

}  // namespace
