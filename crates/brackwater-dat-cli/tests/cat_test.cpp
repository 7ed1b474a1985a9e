// cat: one file's contents, or its stored bytes, to standard output.
#include "tool_test.hpp"

namespace brackwater_dat::cli_test {
namespace {

class Cat : public SmallArchiveTest {};

TEST_F(Cat, WritesEachFilesContentsDecompressedWhenItsEntrySays) {
  for (std::size_t n = 0; n < small_.entries.size(); ++n) {
    SCOPED_TRACE(hex8(small_.entries[n].id));
    const auto run = run_tool({"cat", archive_, hex8(small_.entries[n].id)});
    EXPECT_EQ(run.out, text_of(small_.contents[n]));
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exit_code, 0);
  }
}

TEST_F(Cat, RawWritesTheStoredBytes) {
  const DatFileEntry& compressed = small_.entries[1];
  const Bytes image = small_.builder.image();
  const auto run = run_tool({"cat", archive_, "0x0A000010", "--raw"});
  // One block holds the whole compressed payload, just after the block's link.
  EXPECT_EQ(run.out, text_of(ByteView(image).subspan(compressed.offset + 4, compressed.size)));
  EXPECT_NE(run.out, text_of(small_.contents[1]));
  EXPECT_EQ(run.exit_code, 0);
}

TEST_F(Cat, TakesADecimalId) {
  EXPECT_EQ(run_tool({"cat", archive_, "16777218"}).out, text_of(small_.contents[0]));
}

TEST_F(Cat, AnIdNotInTheArchiveFailsWithNoOutput) {
  for (const char* raw : {"", "--raw"}) {
    std::vector<std::string> args{"cat", archive_, "0x0A000099"};
    if (*raw) args.push_back(raw);
    const auto run = run_tool(args);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, error_line("no file 0x0A000099 in the archive"));
    EXPECT_EQ(run.exit_code, 2);
  }
}

TEST_F(Cat, RefusesToWriteToATerminalUnlessForced) {
  SKIP_WITHOUT_TERMINAL();
  const auto refused = run_tool_in_terminal({"cat", archive_, "0x01000002"});
  EXPECT_EQ(refused.out,
            "brackwater-dat: error: refusing to write binary data to a terminal; use --force, or "
            "redirect the output\r\n");
  EXPECT_EQ(refused.exit_code, 2);

  const auto forced = run_tool_in_terminal({"cat", archive_, "0x0A000010", "--force"});
  EXPECT_EQ(forced.exit_code, 0);
  EXPECT_EQ(forced.out.substr(0, 8), "swoosh\r\n");
}

}  // namespace
}  // namespace brackwater_dat::cli_test
