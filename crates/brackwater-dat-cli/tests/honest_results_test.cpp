// What a person meets on damaged and foreign files: a failure is never
// reported as success, and each message names the file and what is wrong.
#include <filesystem>

#include "tool_test.hpp"

namespace brackwater_dat::cli_test {
namespace {

// The small archive with file 0x0A000010's length prefix raised by 7, so
// that its stream yields 7 bytes fewer than it declares.
class ShortStream : public SmallArchiveTest {
 protected:
  void SetUp() override {
    const DatFileEntry& text = small_.entries[1];
    declared_ = static_cast<std::uint32_t>(small_.contents[1].size()) + 7;
    small_.builder.put_u32(text.offset + 4, declared_);
    SmallArchiveTest::SetUp();
  }

  std::uint32_t declared_ = 0;
};

TEST_F(ShortStream, FailsCatAndExtractUnlessPartialAsksForWhatDecodes) {
  const std::string message = "corrupt archive: file 0x0A000010 declares " +
                              std::to_string(declared_) + " bytes, the stream yields " +
                              std::to_string(small_.contents[1].size());
  const auto cat = run_tool({"cat", archive_, "0x0A000010"});
  EXPECT_EQ(cat.err, error_line(message));
  EXPECT_EQ(cat.out, "");
  EXPECT_EQ(cat.exit_code, 2);
  const auto partial = run_tool({"cat", archive_, "0x0A000010", "--partial"});
  EXPECT_EQ(partial.out, text_of(small_.contents[1]));
  EXPECT_EQ(partial.exit_code, 0);

  const auto extract = run_tool({"extract", archive_, path("out"), "--no-progress"});
  EXPECT_EQ(extract.err, error_line(message));
  EXPECT_TRUE(extract.out.ends_with(", 1 failed\n")) << extract.out;
  EXPECT_EQ(extract.exit_code, 1);
  EXPECT_FALSE(std::filesystem::exists(path("out/0A/0A000010.bin")));
  const auto kept = run_tool({"extract", archive_, path("kept"), "--partial", "--no-progress"});
  EXPECT_TRUE(kept.out.ends_with(", 0 failed\n")) << kept.out;
  EXPECT_EQ(read_bytes(path("kept/0A/0A000010.bin")), small_.contents[1]);
}

// Every command but info and verify refuses a file whose header is not an
// archive's before it reads or writes anything; --any-header reads it.
TEST_F(ToolTest, CommandsRefuseAForeignHeaderUnlessAnyHeader) {
  const std::string zeros = write_image(Bytes(400, 0), "zeros.dat");
  const std::string good = write_archive(small_archive().builder);
  const std::vector<std::vector<std::string>> commands = {
      {"ls", zeros},         {"cat", zeros, "1"},          {"extract", zeros, path("out")},
      {"sound", zeros, "1"}, {"resolve", zeros, "1", "2"}, {"diff", good, zeros},
      {"diff", zeros, good}};
  const std::string refusal = error_line(zeros +
                                         " is not an archive: magic is 0x00000000, not "
                                         "0x00005442; --any-header reads it anyway");
  for (std::vector<std::string> args : commands) {
    SCOPED_TRACE(args[0]);
    const auto refused = run_tool(args);
    EXPECT_EQ(refused.err, refusal);
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(refused.exit_code, 2);
    EXPECT_FALSE(std::filesystem::exists(path("out")));
    args.push_back("--any-header");
    EXPECT_NE(run_tool(args).err, refusal);
    std::filesystem::remove_all(path("out"));
  }
  EXPECT_EQ(run_tool({"verify", zeros}).exit_code, 1);
}

// A file too short to hold a header, in the archive's terms, with the
// library's words under --debug; verify reports it as a problem.
TEST_F(ToolTest, AnArchiveCutShortIsSaidSo) {
  const std::string empty = write_image({}, "empty.dat");
  const std::string cut = write_image(Bytes(350, 0), "cut.dat");
  EXPECT_EQ(run_tool({"info", empty}).err,
            error_line(empty + " is empty: an archive's header ends at 0x190"));
  EXPECT_EQ(run_tool({"ls", cut}).err,
            error_line(cut + " ends at 350 bytes, inside the header (which ends at 0x190)"));
  const auto debug = run_tool({"--debug", "info", cut});
  EXPECT_TRUE(debug.err.starts_with("brackwater-dat: error: " + cut + ": BinRead(")) << debug.err;
  // A whole header over no archive: info shows it, and what is wrong.
  Bytes head = read_bytes(write_retail());
  head.resize(1000);
  const std::string trunc = write_image(head, "trunc.dat");
  const auto info = run_tool({"info", trunc});
  EXPECT_EQ(info.exit_code, 1);
  EXPECT_NE(info.out.find("\nproblem: file_size says "), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("\nproblem: " + trunc + ": read failed: "), std::string::npos);
  const auto verify = run_tool({"verify", cut});
  EXPECT_EQ(verify.out, "truncated: " + cut +
                            " ends at 350 bytes, inside the header (which ends at 0x190)\n"
                            "verified 0 files: 1 problem\n");
  EXPECT_EQ(verify.exit_code, 1);
}

// Open failures by the library's code: the path where the library's text
// does not name it, and status 2 for each (--any-header: past the header's
// own check, which would refuse the first).
TEST_F(ToolTest, OpenFailuresNameTheFileByTheirCode) {
  ArchiveBuilder past_the_end(1024);
  past_the_end.header().magic = 0x00005442;
  past_the_end.header().root_offset = 0x7FFFFF00;
  const std::string io = write_archive(past_the_end, "io.dat");
  const std::string missing = path("missing.dat");
  const struct {
    std::string archive, message;
  } rows[] = {
      {io, io + ": read failed: failed to fill whole buffer"},
      {missing, "cannot open " + missing + ": "},
      {write_image(Bytes(0x150, 0), "bin_read.dat"), path("bin_read.dat") + " ends at 336 bytes"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.archive);
    const auto run = run_tool({"ls", row.archive, "--any-header"});
    EXPECT_TRUE(run.err.starts_with(error_line(row.message).substr(0, 23 + row.message.size())))
        << run.err;
    EXPECT_EQ(run.exit_code, 2);
  }
}

// Ids as the tool prints them (bare hex, or 0X) name the same file as 0x;
// extract takes a list of them.
TEST_F(ToolTest, IdsAsPeopleWriteThem) {
  const SmallArchive small = small_archive();
  const std::string archive = write_archive(small.builder);
  for (const char* id : {"0x0A000010", "0X0A000010", "0A000010", "0a000010"}) {
    SCOPED_TRACE(id);
    EXPECT_EQ(run_tool({"cat", archive, id}).out, text_of(small.contents[1]));
  }
  const auto some = run_tool(
      {"extract", archive, path("out"), "0A000011", "0x01000002", "0A000011", "--no-progress"});
  EXPECT_EQ(some.out, "extracted 2 files, 1300 bytes, 0 failed\n");
  EXPECT_EQ(tree_of(path("out")),
            (std::vector<std::string>{"01/", "01/01000002.bin", "0A/", "0A/0A000011.bin"}));
  const auto missing = run_tool({"extract", archive, path("none"), "0A000099"});
  EXPECT_EQ(missing.err, error_line("no file 0x0A000099 in the archive"));
  EXPECT_FALSE(std::filesystem::exists(path("none")));
  EXPECT_EQ(run_tool({"resolve", archive, "0x20000001", "58", "--json"}).exit_code, 0);
  // ls --long: times as ISO 8601, and what a compressed file decompresses to.
  const std::string listed = run_tool({"ls", archive, "--long"}).out;
  EXPECT_TRUE(listed.starts_with("ID          TT  STORAGE")) << listed;
  EXPECT_NE(listed.find(" 2023-11-14T22:13:20Z  3\n"), std::string::npos) << listed;
  EXPECT_NE(listed.find("  " + std::to_string(small.contents[1].size()) + "  "), std::string::npos);
}

}  // namespace
}  // namespace brackwater_dat::cli_test
