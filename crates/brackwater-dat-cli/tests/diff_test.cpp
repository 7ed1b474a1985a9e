// diff: files added, removed and changed between two archives.
#include <nlohmann/json.hpp>

#include "tool_test.hpp"

namespace brackwater_dat::cli_test {
namespace {

using nlohmann::json;

Bytes filled(std::size_t size, std::uint8_t seed) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i % 9);
  return bytes;
}

struct FileSpec {
  std::uint32_t id;
  Bytes contents;
  bool compressed = false;
  std::uint32_t timestamp = 10;
  std::uint32_t version = 1;
};

ArchiveBuilder archive_of(const std::vector<FileSpec>& files, bool moved) {
  ArchiveBuilder builder(512);
  if (moved) builder.allocate_block();  // every file lies one block later
  std::vector<DatFileEntry> entries;
  for (const FileSpec& file : files) {
    DatFileEntry entry = builder.store_file(file.id, file.contents, file.compressed);
    entry.timestamp = file.timestamp;
    entry.version = file.version;
    entries.push_back(entry);
  }
  builder.header().root_offset = builder.store_tree(entries);
  return builder;
}

class Diff : public ToolTest {
 protected:
  void SetUp() override {
    old_ = write_archive(archive_of({{0x01000002, filled(100, 1)},
                                     {0x0A000010, filled(200, 2)},
                                     {0x0A000011, filled(50, 3)},
                                     {0x0A000012, filled(300, 4)},
                                     {0x0A000013, filled(900, 5)},
                                     {0x20000001, small_sound_table(), true}},
                                    false),
                         "old.dat");
    new_ = write_archive(archive_of({{0x01000002, filled(100, 7)},  // other bytes only
                                     {0x0A000010, filled(200, 2), false, 10, 9},
                                     {0x0A000012, filled(400, 4), false, 11},
                                     {0x0A000013, filled(900, 5), true},  // same contents
                                     {0x0B000001, filled(10, 6)},
                                     {0x20000001, small_sound_table(), true}},
                                    true),
                         "new.dat");
  }

  std::string old_, new_;
};

TEST_F(Diff, ListsAddedRemovedAndChangedFilesByIdButNotMovedOnes) {
  const auto run = run_tool({"diff", old_, new_, "--entries"});
  EXPECT_EQ(run.out,
            "~ 0x0A000010 version\n"
            "- 0x0A000011\n"
            "~ 0x0A000012 size,timestamp\n"
            "~ 0x0A000013 bit_flags,size\n"
            "+ 0x0B000001\n");
  // By default the files' contents too: other bytes under the same entry.
  EXPECT_TRUE(run_tool({"diff", old_, new_}).out.starts_with("~ 0x01000002 content\n"));
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exit_code, 1);
}

TEST_F(Diff, ContentAddsFilesWhoseContentsDiffer) {
  const auto run = run_tool({"diff", old_, new_, "--content"});
  EXPECT_EQ(run.out,
            "~ 0x01000002 content\n"
            "~ 0x0A000010 version\n"
            "- 0x0A000011\n"
            "~ 0x0A000012 size,timestamp,content\n"
            "~ 0x0A000013 bit_flags,size\n"
            "+ 0x0B000001\n");
  // By default the files' contents too: other bytes under the same entry.
  EXPECT_TRUE(run_tool({"diff", old_, new_}).out.starts_with("~ 0x01000002 content\n"));
  EXPECT_EQ(run.exit_code, 1);
}

TEST_F(Diff, JsonListsEachKindSortedById) {
  const auto run = run_tool({"diff", old_, new_, "--content", "--json"});
  EXPECT_EQ(run.exit_code, 1);
  const json expected = {
      {"added", {0x0B000001}},
      {"removed", {0x0A000011}},
      {"changed",
       {{{"id", 0x01000002}, {"fields", json::array()}, {"content", true}},
        {{"id", 0x0A000010}, {"fields", {"version"}}, {"content", false}},
        {{"id", 0x0A000012}, {"fields", {"size", "timestamp"}}, {"content", true}},
        {{"id", 0x0A000013}, {"fields", {"bit_flags", "size"}}, {"content", false}}}}};
  EXPECT_EQ(json::parse(run.out), expected);
}

TEST_F(Diff, AnArchiveAgainstItselfHasNoDifferences) {
  const auto text = run_tool({"diff", old_, old_, "--content"});
  EXPECT_EQ(text.out, "");
  EXPECT_EQ(text.err, "");
  EXPECT_EQ(text.exit_code, 0);
  const auto listing = run_tool({"diff", old_, old_, "--json"});
  EXPECT_EQ(
      json::parse(listing.out),
      json({{"added", json::array()}, {"removed", json::array()}, {"changed", json::array()}}));
  EXPECT_EQ(listing.exit_code, 0);
}

TEST_F(Diff, AFileThatCannotBeReadIsReportedAndCountsAsDiffering) {
  ArchiveBuilder broken = archive_of({{0x01000002, filled(100, 1)}}, false);
  DatFileEntry entry = {0, 0x01000002, 0x00100000, 100, 10, 1};  // its chain past the end
  broken.header().root_offset = broken.store_tree(std::vector{entry});
  const std::string broken_path = write_archive(broken, "broken.dat");
  const std::string sound =
      write_archive(archive_of({{0x01000002, filled(100, 1)}}, false), "ok.dat");

  const auto run = run_tool({"diff", sound, broken_path, "--content"});
  EXPECT_EQ(run.out, "~ 0x01000002 content\n");
  EXPECT_EQ(run.err,
            error_line("NEW 0x01000002: read failed: failed to fill whole buffer at offset "
                       "0x00100000, past the end of the archive's " +
                       std::to_string(broken.size()) + " bytes"));
  EXPECT_EQ(run.exit_code, 1);
}

}  // namespace
}  // namespace brackwater_dat::cli_test
