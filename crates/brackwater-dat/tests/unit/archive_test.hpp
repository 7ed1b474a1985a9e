#pragma once
// The fixture and helpers that the reader's tests share: an archive written
// by the builder to a file of a temporary directory, and opened by path.
#include <gtest/gtest.h>

#include <algorithm>
#include <brackwater_dat/dat_database.hpp>
#include <filesystem>
#include <fstream>
#include <vector>

#include "support/archive_builder.hpp"
#include "support/temp_dir.hpp"

namespace brackwater_dat::test_support {

inline Bytes pattern(std::size_t size, std::uint32_t seed) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<std::uint8_t>(seed * 31 + i * 7 + i / 251);
  return bytes;
}

inline void write_bytes(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

class ArchiveTest : public ::testing::Test {
 protected:
  std::filesystem::path path() const { return dir_ / "archive.dat"; }

  Result<DatDatabase> open(const ArchiveBuilder& builder) {
    builder.write(path());
    return DatDatabase::open(path());
  }

  DatDatabase open_ok(const ArchiveBuilder& builder) {
    auto db = open(builder);
    EXPECT_TRUE(db.has_value()) << debug_text(db.error());
    return std::move(db.value());
  }

  TempDir dir_;
};

inline DatFileEntry entry_for(std::uint32_t id) { return DatFileEntry{0, id, 0, 0, 0, 0}; }

inline NodeSpec leaf(std::vector<std::uint32_t> ids) {
  NodeSpec node;
  for (auto id : ids) node.entries.push_back(entry_for(id));
  return node;
}

inline std::vector<std::uint32_t> ids_of(const DatDatabase& db) {
  std::vector<std::uint32_t> ids;
  for (const auto& [id, entry] : db.directory()) ids.push_back(id);
  std::ranges::sort(ids);
  return ids;
}

}  // namespace brackwater_dat::test_support
