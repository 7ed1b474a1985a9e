// The synthetic retail archive, read through the real reader and decoder,
// agrees with the answers its own recipe records.
#include "support/synthetic_retail.hpp"

#include <gtest/gtest.h>

#include <brackwater_dat/dat_database.hpp>
#include <brackwater_dat/file_type/sound_table.hpp>
#include <filesystem>
#include <fstream>
#include <set>

#include "support/temp_dir.hpp"

namespace {

using namespace brackwater_dat;
using test_support::build_synthetic_retail;
using test_support::RetailVariant;

TEST(SyntheticRetail, ReaderAgreesWithTheRecipe) {
  const auto retail = build_synthetic_retail(RetailVariant::Good);
  ASSERT_EQ(retail.answers.size(), 410u);
  test_support::TempDir dir;
  std::ofstream(dir / "portal.dat", std::ios::binary)
      .write(reinterpret_cast<const char*>(retail.image.data()),
             static_cast<std::streamsize>(retail.image.size()));
  const auto db = DatDatabase::open(dir / "portal.dat");
  ASSERT_TRUE(db.has_value()) << debug_text(db.error());
  EXPECT_GT(db->directory().size(), 300u);
  EXPECT_EQ(db->header().block_size, 1024u);

  std::set<std::uint32_t> types;
  for (const auto& [id, entry] : db->directory()) types.insert(file_type_of(id));
  EXPECT_EQ(types, (std::set<std::uint32_t>{0x01, 0x06, 0x0A, 0x20}));

  std::size_t waves = 0, none = 0;
  for (std::uint32_t table_id : {0x20000001u, 0x200000A8u}) {
    EXPECT_TRUE(is_compressed(db->directory().find(table_id)->second)) << "stored compressed";
    const auto payload = db->get_file(table_id);
    ASSERT_TRUE(payload.has_value()) << debug_text(payload.error());
    const auto table = file_type::SoundTable::unpack(*payload);
    ASSERT_TRUE(table.has_value()) << debug_text(table.error());
    EXPECT_EQ(table->id(), table_id);
    for (std::uint32_t kind = 0; kind <= 204; ++kind) {
      const auto expected = retail.answers.at({table_id, kind});
      EXPECT_EQ(table->resolve_sound(kind), expected) << table_id << " " << kind;
      (expected ? waves : none) += 1;
    }
  }
  // Both outcomes are well represented, so agreement means something.
  EXPECT_GT(waves, 200u);
  EXPECT_GT(none, 40u);
}

TEST(SyntheticRetail, NoneRowsAreEarnedNotAbsent) {
  const auto retail = build_synthetic_retail(RetailVariant::Good);
  test_support::TempDir dir;
  std::ofstream(dir / "portal.dat", std::ios::binary)
      .write(reinterpret_cast<const char*>(retail.image.data()),
             static_cast<std::streamsize>(retail.image.size()));
  const auto db = DatDatabase::open(dir / "portal.dat");
  ASSERT_TRUE(db.has_value());
  const auto shield = file_type::SoundTable::unpack(db->get_file(0x20000001).value()).value();
  const auto swoosh = file_type::SoundTable::unpack(db->get_file(0x200000A8).value()).value();
  EXPECT_TRUE(shield.sounds().at(0x46).entries.empty());
  ASSERT_GE(swoosh.sounds().at(0x46).entries.size(), 2u);
  EXPECT_EQ(swoosh.sounds().at(0x46).entries[0].wave_did, 0u);
  EXPECT_NE(swoosh.sounds().at(0x46).entries[1].wave_did, 0u);
  EXPECT_EQ(shield.resolve_sound(0x158), 0x0A000158u);  // 0x58 with a high bit set
}

}  // namespace
