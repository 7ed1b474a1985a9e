#include <gtest/gtest.h>

#include <brackwater_dat/directory.hpp>
#include <random>
#include <unordered_map>
#include <vector>

namespace {

using brackwater_dat::DatFileEntry;
using brackwater_dat::Directory;

DatFileEntry entry(std::uint32_t id, std::uint32_t size) { return {0, id, 0x400, size, 0, 0}; }

TEST(Directory, EmptyFindsNothing) {
  const Directory directory;
  EXPECT_TRUE(directory.empty());
  EXPECT_EQ(directory.size(), 0u);
  EXPECT_EQ(directory.find(0), directory.end());
  EXPECT_FALSE(directory.contains(0xFFFFFFFF));
  EXPECT_EQ(directory.begin(), directory.end());
}

TEST(Directory, LaterEntryReplacesInPlace) {
  Directory directory;
  directory.insert_or_assign(7, entry(7, 1));
  directory.insert_or_assign(0xFFFFFFFF, entry(0xFFFFFFFF, 2));  // the index's own marker value
  directory.insert_or_assign(7, entry(7, 3));
  EXPECT_EQ(directory.size(), 2u);
  EXPECT_EQ(directory.count(7), 1u);
  EXPECT_EQ(directory.find(7)->second.size, 3u);
  EXPECT_EQ(directory.find(0xFFFFFFFF)->second.size, 2u);
  std::size_t seen = 0;
  for (const auto& [id, e] : directory) seen += id == e.id;
  EXPECT_EQ(seen, 2u);
}

TEST(Directory, AgreesWithAStandardMapThroughGrowth) {
  // Sequential, strided and random ids, with repeats, as archives hold them.
  std::mt19937 random(5);
  Directory directory;
  std::unordered_map<std::uint32_t, DatFileEntry> expected;
  for (std::uint32_t i = 0; i < 300'000; ++i) {
    const std::uint32_t id = i % 3 == 0 ? 0x0A000000 + i : i % 3 == 1 ? i * 4096 : random();
    const DatFileEntry e = entry(id, i);
    directory.insert_or_assign(id, e);
    expected.insert_or_assign(id, e);
    if (i % 1000 == 0) directory.insert_or_assign(0x0A000000, entry(0x0A000000, i));
    if (i % 1000 == 0) expected.insert_or_assign(0x0A000000, entry(0x0A000000, i));
  }
  ASSERT_EQ(directory.size(), expected.size());
  for (const auto& [id, e] : expected) {
    const auto found = directory.find(id);
    ASSERT_NE(found, directory.end()) << id;
    EXPECT_EQ(found->second.size, e.size);
  }
  for (const auto& [id, e] : directory) EXPECT_EQ(expected.at(id).size, e.size);
  for (std::uint32_t probe = 1; probe < 1000; ++probe) {
    EXPECT_EQ(directory.contains(probe * 7 + 3), expected.contains(probe * 7 + 3));
  }
}

TEST(Directory, InsertingAllAtOnceMatchesInsertingOneByOne) {
  // Runs of consecutive ids, as a type's files are numbered, repeats among
  // them, and entries already present before the batch.
  std::mt19937 random(9);
  std::vector<DatFileEntry> batch;
  for (std::uint32_t i = 0; i < 20'000; ++i) {
    const std::uint32_t id = i % 5 == 4 ? random() : 0x0A000000 + i / 2 * 3;
    batch.push_back(entry(id, i));
  }
  Directory one_by_one;
  Directory all_at_once;
  for (Directory* directory : {&one_by_one, &all_at_once}) {
    directory->insert_or_assign(0x0A000003, entry(0x0A000003, 99));
    directory->insert_or_assign(5, entry(5, 98));
  }
  for (const DatFileEntry& e : batch) one_by_one.insert_or_assign(e.id, e);
  all_at_once.insert_all(batch);
  ASSERT_EQ(all_at_once.size(), one_by_one.size());
  auto other = one_by_one.begin();
  for (const auto& [id, e] : all_at_once) {  // the same entries in the same order
    EXPECT_EQ(id, other->first);
    EXPECT_EQ(e.size, other->second.size);
    EXPECT_EQ(all_at_once.find(id)->second.size, e.size);
    ++other;
  }
}

}  // namespace
