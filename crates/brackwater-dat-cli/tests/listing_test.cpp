// info and ls: what an archive holds, as text and as JSON.
#include <algorithm>
#include <nlohmann/json.hpp>
#include <ostream>

#include "tool_test.hpp"

namespace brackwater_dat::cli_test {
namespace {

using nlohmann::json;

class Listing : public SmallArchiveTest {
 protected:
  const DatFileEntry& entry(std::size_t n) const { return small_.entries[n]; }
};

TEST_F(Listing, InfoShowsTheHeaderAndCountsAsText) {
  const auto run = run_tool({"info", archive_});
  const std::string size = std::to_string(small_.builder.size());
  const std::uint64_t stored = entry(0).size + entry(1).size + entry(2).size + entry(3).size;
  EXPECT_EQ(run.out, "path: " + archive_ + "\nlength: " + size +
                         "\n"
                         "magic: 0x00005442\n"
                         "block_size: 512\n"
                         "file_size: " +
                         size +
                         "\n"
                         "dataset: 0\n"
                         "subset: 0\n"
                         "free_head: 0x00000000\n"
                         "free_tail: 0x00000000\n"
                         "free_count: 0\n"
                         "root_offset: " +
                         hex8(small_.builder.header().root_offset) +
                         "\n"
                         "new_lru: 0x00000000\n"
                         "old_lru: 0x00000000\n"
                         "use_lru: 0x00000000\n"
                         "master_map_id: 0x25000007\n"
                         "engine_version: 22\n"
                         "game_version: 0\n"
                         "version_string: ab010000000000000000000000000000\n"
                         "version_minor: 0\n"
                         "files: 4\n"
                         "compressed: 2\n"
                         "stored_bytes: " +
                         std::to_string(stored) +
                         "\n"
                         "type 01: 1\n"
                         "type 0A: 2\n"
                         "type 20: 1\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exit_code, 0);
}

TEST_F(Listing, InfoJsonNamesEveryHeaderFieldWithNumbers) {
  const auto run = run_tool({"info", archive_, "--json"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const json expected = {
      {"path", archive_},
      {"length", small_.builder.size()},
      {"header",
       {{"magic", 0x5442},
        {"block_size", 512},
        {"file_size", small_.builder.size()},
        {"dataset", 0},
        {"subset", 0},
        {"free_head", 0},
        {"free_tail", 0},
        {"free_count", 0},
        {"root_offset", small_.builder.header().root_offset},
        {"new_lru", 0},
        {"old_lru", 0},
        {"use_lru", 0},
        {"master_map_id", 0x25000007},
        {"engine_version", 22},
        {"game_version", 0},
        {"version_string", "ab010000000000000000000000000000"},
        {"version_minor", 0}}},
      {"files", 4},
      {"compressed", 2},
      {"stored_bytes", entry(0).size + entry(1).size + entry(2).size + entry(3).size},
      {"types", {{"0x01", 1}, {"0x0A", 2}, {"0x20", 1}}},
      {"problems", json::array()}};
  EXPECT_EQ(json::parse(run.out), expected);
}

TEST_F(Listing, LsListsEveryFileSortedByIdInColumns) {
  const auto run = run_tool({"ls", archive_});
  const auto padded = [](std::uint32_t n) {
    const std::string text = std::to_string(n);
    return std::string(10 - text.size(), ' ') + text;
  };
  EXPECT_EQ(run.out,
            "0x01000002  01  stored             100  0x00000400  1700000000  3\n"
            "0x0A000010  0A  compressed  " +
                padded(entry(1).size) + "  " + hex8(entry(1).offset) +
                "           5  1\n"
                "0x0A000011  0A  stored            1200  " +
                hex8(entry(2).offset) +
                "  1234567890  7\n"
                "0x20000001  20  compressed  " +
                padded(entry(3).size) + "  " + hex8(entry(3).offset) + "           0  2\n");
  EXPECT_EQ(run.exit_code, 0);
}

TEST_F(Listing, LsJsonGivesEveryEntryFieldSortedById) {
  const auto run = run_tool({"ls", archive_, "--json"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  json expected = json::array();
  for (const DatFileEntry& e : small_.entries) {
    expected.push_back({{"id", e.id},
                        {"type", e.id >> 24},
                        {"bit_flags", e.bit_flags},
                        {"compressed", e.bit_flags == 1},
                        {"offset", e.offset},
                        {"size", e.size},
                        {"timestamp", e.timestamp},
                        {"version", e.version}});
  }
  EXPECT_EQ(json::parse(run.out), expected);
}

struct TypeFilterCase {
  const char* name;
  const char* type;
  std::vector<std::uint32_t> ids;
};

void PrintTo(const TypeFilterCase& param, std::ostream* out) { *out << param.name; }

class LsTypeFilter : public Listing, public ::testing::WithParamInterface<TypeFilterCase> {};

TEST_P(LsTypeFilter, KeepsOnlyFilesOfTheType) {
  const auto run = run_tool({"ls", archive_, "--type", GetParam().type, "--json"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  std::vector<std::uint32_t> ids;
  for (const auto& item : json::parse(run.out)) ids.push_back(item["id"]);
  EXPECT_EQ(ids, GetParam().ids);
}

INSTANTIATE_TEST_SUITE_P(
    Types, LsTypeFilter,
    ::testing::Values(TypeFilterCase{"Bare", "0A", {0x0A000010, 0x0A000011}},
                      TypeFilterCase{"Prefixed", "0x0A", {0x0A000010, 0x0A000011}},
                      TypeFilterCase{"LowerCase", "0a", {0x0A000010, 0x0A000011}},
                      TypeFilterCase{"OneDigit", "1", {0x01000002}},
                      TypeFilterCase{"Absent", "7F", {}}),
    [](const auto& info) { return std::string(info.param.name); });

class RetailListing : public ToolTest {};

TEST_F(RetailListing, InfoCountsTheFilesOfEachType) {
  const auto run = run_tool({"info", write_retail(), "--json"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const json info = json::parse(run.out);
  // 320 files of four types in turn, a third compressed, the two sound tables compressed,
  // and the 261 waves the tables resolve to, stored.
  EXPECT_EQ(info["files"], 583);
  EXPECT_EQ(info["compressed"], 109);
  EXPECT_EQ(info["types"], json({{"0x01", 80}, {"0x06", 80}, {"0x0A", 341}, {"0x20", 82}}));
  EXPECT_EQ(info["header"]["block_size"], 1024);
  EXPECT_EQ(info["length"], info["header"]["file_size"]);
}

TEST_F(RetailListing, LsTextAndJsonListTheSameFilesInOrder) {
  const std::string archive = write_retail();
  const auto text = run_tool({"ls", archive, "--type", "20"});
  const auto listing = run_tool({"ls", archive, "--type", "20", "--json"});
  ASSERT_EQ(text.exit_code, 0) << text.err;
  ASSERT_EQ(listing.exit_code, 0) << listing.err;
  std::string expected_starts;
  for (const auto& item : json::parse(listing.out)) {
    expected_starts +=
        hex8(item["id"]) + "  20  " + (item["compressed"] ? "compressed" : "stored    ") + "\n";
  }
  std::string starts;
  for (std::size_t at = 0; at < text.out.size(); at = text.out.find('\n', at) + 1) {
    starts += text.out.substr(at, 26) + "\n";
  }
  EXPECT_EQ(starts, expected_starts);
  EXPECT_NE(starts.find("0x20000001  20  compressed\n0x200000A8  20  compressed\n"),
            std::string::npos);
}

// What is not an archive: info shows what was read and its problems (status
// 1); ls lists it only when asked with --any-header; a device reads as any
// file does.
TEST_F(ToolTest, InfoShowsAndLsRefusesAHeaderThatIsNoArchives) {
  const std::string zeros = write_image(Bytes(400, 0), "zeros.dat");
#ifdef _WIN32
  // NUL, Windows' /dev/zero, is a character device: no archive (usage_test).
  const std::vector<std::string> files{zeros, BRACKWATER_DAT_PATH};
#else
  const std::vector<std::string> files{zeros, "/dev/zero", "/bin/true"};
#endif
  for (const std::string& file : files) {
    const auto info = run_tool({"info", file});
    EXPECT_EQ(info.exit_code, 1);
    EXPECT_NE(info.out.find("\nproblem: magic is "), std::string::npos) << info.out;
    EXPECT_EQ(run_tool({"ls", file, "--any-header"}).exit_code, 0);
  }
#ifndef _WIN32
  EXPECT_TRUE(run_tool({"info", "/dev/zero"}).out.starts_with("path: /dev/zero\nlength: 0\n"));
#endif
}

// A name outside the ANSI code page reaches the system whole (UTF-16 there on
// Windows) and shows in UTF-8.
TEST_F(ToolTest, ANameOutsideTheAnsiCodePageIsReadAndShownInUtf8) {
  const std::filesystem::path archive = dir_.path() / u8"\u0434\u0430\u0442-\u2603.dat";
  write_bytes(archive, small_archive().builder.image());
  const std::u8string name = archive.u8string();
  const std::string text(name.begin(), name.end());
  const auto run = run_tool({"info", text});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_TRUE(run.out.starts_with("path: " + text + "\nlength: ")) << run.out;
}

// A name with a line break cannot pass for two lines of output.
TEST_F(ToolTest, PathsWithControlCharactersAreQuoted) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows file names cannot hold control characters";
#endif
  const std::string archive = write_archive(small_archive().builder, "two\nlines.dat");
  const std::string quoted = "\"" + path("two\\nlines.dat") + "\"";
  EXPECT_TRUE(run_tool({"info", archive}).out.starts_with("path: " + quoted + "\nlength: "));
  const std::string folder = path("out\tput");
  ASSERT_EQ(run_tool({"extract", archive, folder, "--type", "01"}).exit_code, 0);
  const auto again = run_tool({"extract", archive, folder, "--type", "01"});
  EXPECT_EQ(again.err, error_line("\"" + path("out\\tput") +
                                  "/01/01000002.bin\" exists; use --force to overwrite it"));
}

}  // namespace
}  // namespace brackwater_dat::cli_test
