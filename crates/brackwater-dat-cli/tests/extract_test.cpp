// extract: every file to DIR/TT/XXXXXXXX.bin, safely, on several threads.
#include <algorithm>
#include <brackwater_dat/dat_database.hpp>
#include <chrono>
#include <csignal>
#include <regex>
#include <thread>

#include "support/amplifying_archives.hpp"
#include "tool_test.hpp"

namespace brackwater_dat::cli_test {
namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kSmallTree = {
    "01/", "01/01000002.bin", "0A/", "0A/0A000010.bin", "0A/0A000011.bin",
    "20/", "20/20000001.bin"};

class Extract : public SmallArchiveTest {
 protected:
  void SetUp() override {
    SmallArchiveTest::SetUp();
    for (const auto& contents : small_.contents) total_ += contents.size();
  }

  std::string out_dir() const { return path("out"); }
  std::string in_out(const std::string& name) const { return out_dir() + "/" + name; }

  std::size_t total_ = 0;
};

TEST_F(Extract, WritesEveryFileIntoItsTypeFolderAndSumsUp) {
  const auto run = run_tool({"extract", archive_, out_dir()});
  EXPECT_EQ(run.out, "extracted 4 files, " + std::to_string(total_) + " bytes, 0 failed\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(tree_of(out_dir()), kSmallTree);
  EXPECT_EQ(read_bytes(in_out("0A/0A000010.bin")), small_.contents[1]);
  EXPECT_EQ(read_bytes(in_out("0A/0A000011.bin")), small_.contents[2]);
  EXPECT_EQ(read_bytes(in_out("20/20000001.bin")), small_.contents[3]);
}

TEST_F(Extract, OneTypeAndRawStoredBytes) {
  const auto run = run_tool({"extract", archive_, out_dir(), "--type", "0x20", "--raw"});
  const DatFileEntry& table = small_.entries[3];
  EXPECT_EQ(run.out, "extracted 1 file, " + std::to_string(table.size) + " bytes, 0 failed\n");
  EXPECT_EQ(tree_of(out_dir()), (std::vector<std::string>{"20/", "20/20000001.bin"}));
  const Bytes image = small_.builder.image();
  EXPECT_EQ(read_bytes(in_out("20/20000001.bin")),
            Bytes(image.begin() + table.offset + 4, image.begin() + table.offset + 4 + table.size));
}

TEST_F(Extract, NeverOverwritesWithoutForce) {
  ASSERT_EQ(run_tool({"extract", archive_, out_dir()}).exit_code, 0);
  write_bytes(in_out("0A/0A000011.bin"), Bytes{'o', 'l', 'd'});

  const auto refused = run_tool({"extract", archive_, out_dir(), "--type", "0A"});
  EXPECT_EQ(refused.out, "extracted 0 files, 0 bytes, 2 failed\n");
  EXPECT_EQ(refused.err,
            error_line(in_out("0A/0A000010.bin") + " exists; use --force to overwrite it") +
                error_line(in_out("0A/0A000011.bin") + " exists; use --force to overwrite it"));
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_EQ(read_bytes(in_out("0A/0A000011.bin")), (Bytes{'o', 'l', 'd'}));

  const auto forced = run_tool({"extract", archive_, out_dir(), "--force"});
  EXPECT_EQ(forced.exit_code, 0) << forced.err;
  EXPECT_EQ(read_bytes(in_out("0A/0A000011.bin")), small_.contents[2]);
  EXPECT_EQ(tree_of(out_dir()), kSmallTree);
}

TEST_F(ToolTest, ManyFilesThatExistAreSummedUpAfterTheFirstFew) {
  ArchiveBuilder builder(256);
  std::vector<DatFileEntry> entries;
  for (std::uint32_t i = 0; i < 10; ++i) {
    entries.push_back(builder.store_file(0x0A000000 + i, Bytes(10, static_cast<std::uint8_t>(i))));
  }
  builder.header().root_offset = builder.store_tree(entries);
  const std::string archive = write_archive(builder);
  ASSERT_EQ(run_tool({"extract", archive, path("out")}).exit_code, 0);

  const auto again = run_tool({"extract", archive, path("out"), "--threads", "1"});
  std::string expected;
  for (const char* name : {"0A000000", "0A000001", "0A000002"}) {
    expected +=
        error_line(path("out") + "/0A/" + name + ".bin exists; use --force to overwrite it");
  }
  expected += error_line("... and 7 more files exist; use --force to overwrite them");
  EXPECT_EQ(again.err, expected);
  EXPECT_EQ(again.out, "extracted 0 files, 0 bytes, 10 failed\n");
  EXPECT_EQ(again.exit_code, 1);
}

TEST_F(Extract, RefusesATypeFolderThatIsASymbolicLink) {
  fs::create_directories(path("elsewhere"));
  fs::create_directories(out_dir());
  if (!make_symbolic_link(path("elsewhere"), in_out("0A"), true)) {
    GTEST_SKIP() << "no symbolic links here";
  }

  const auto run = run_tool({"extract", archive_, out_dir()});
  EXPECT_EQ(run.err, error_line("refusing folder " + in_out("0A") + ": it is " + kLinkName));
  EXPECT_EQ(run.out, "extracted 2 files, " +
                         std::to_string(small_.contents[0].size() + small_.contents[3].size()) +
                         " bytes, 2 failed\n");
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_TRUE(fs::is_empty(path("elsewhere")));
  EXPECT_EQ(tree_of(out_dir()),
            (std::vector<std::string>{"01/", "01/01000002.bin", "0A", "20/", "20/20000001.bin"}));
}

TEST_F(Extract, ReplacesAFileThatIsASymbolicLinkRatherThanWritingThroughIt) {
  write_bytes(path("target"), Bytes{'k', 'e', 'e', 'p'});
  fs::create_directories(in_out("01"));
  if (!make_symbolic_link(path("target"), in_out("01/01000002.bin"), false)) {
    GTEST_SKIP() << "no symbolic links here";
  }

  const auto refused = run_tool({"extract", archive_, out_dir(), "--type", "01"});
  EXPECT_EQ(refused.err,
            error_line(in_out("01/01000002.bin") + " exists; use --force to overwrite it"));
  EXPECT_EQ(refused.exit_code, 1);

  const auto forced = run_tool({"extract", archive_, out_dir(), "--type", "01", "--force"});
#ifdef _WIN32
  // Any reparse point may stand for more than a file (a junction, a cloud
  // file): Windows refuses it even then.
  EXPECT_EQ(forced.err, error_line("refusing " + in_out("01/01000002.bin") + ": it is " +
                                   kLinkName + "; remove it to extract there"));
  EXPECT_EQ(forced.exit_code, 1);
  EXPECT_EQ(read_bytes(path("target")), (Bytes{'k', 'e', 'e', 'p'}));
  return;
#endif
  EXPECT_EQ(forced.exit_code, 0) << forced.err;
  EXPECT_FALSE(fs::is_symlink(in_out("01/01000002.bin")));
  EXPECT_EQ(read_bytes(in_out("01/01000002.bin")), small_.contents[0]);
  EXPECT_EQ(read_bytes(path("target")), (Bytes{'k', 'e', 'e', 'p'}));
}

TEST_F(Extract, AFailedWriteLeavesNoFileBehind) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no file size limit to set on a process (prlimit, RLIMIT_FSIZE)";
#endif
  // Past 1000 bytes a write fails with EFBIG: the 1200-byte file cannot be written.
  std::vector<std::string> argv{"prlimit", "--fsize=1000", BRACKWATER_DAT_PATH,
                                "extract", archive_,       out_dir()};
  const auto run = test_support::run_process(argv);
  EXPECT_EQ(run.err, error_line("cannot write " + in_out("0A/0A000011.bin") +
                                ": File too large (os error 27)"));
  EXPECT_EQ(run.out, "extracted 3 files, " + std::to_string(total_ - 1200) + " bytes, 1 failed\n");
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(tree_of(out_dir()),
            (std::vector<std::string>{"01/", "01/01000002.bin", "0A/", "0A/0A000010.bin", "20/",
                                      "20/20000001.bin"}));
}

TEST_F(Extract, AFolderThatCannotBeMadeFailsTheCommand) {
  write_bytes(path("plain"), Bytes{'x'});
  const auto run = run_tool({"extract", archive_, path("plain")});
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err,
            error_line("cannot make folder " + path("plain") + ": Not a directory (os error 20)"));
  EXPECT_EQ(run.exit_code, 2);
}

// Files that share blocks are damaged or built to multiply what extract
// writes: they are refused before anything is written, unless allowed, and
// whatever type the other file is.
TEST_F(ToolTest, FilesWhoseChainsShareBlocksAreRefusedUnlessAllowed) {
  ArchiveBuilder builder(1024);
  const DatFileEntry own = builder.store_file(0x06000001, Bytes(500, 1));
  const DatFileEntry first = builder.store_file(0x06000002, Bytes(1500, 2));
  const std::uint32_t shared = first.offset + 1024;
  const DatFileEntry second{0, 0x0A000003, shared, 300, 0, 0};  // in the first's second block
  builder.header().root_offset = builder.store_tree(std::vector{own, first, second});
  const std::string archive = write_archive(builder);
  const auto refusal = [&](const char* id, const char* other) {
    return error_line("refusing " + std::string(id) + ": block " + hex8(shared) +
                      " is also in the chain of " + other +
                      " (an archive's files have blocks of their own); --allow-shared extracts it");
  };

  const auto refused = run_tool({"extract", archive, path("out")});
  EXPECT_EQ(refused.err, refusal("0x06000002", "0x0A000003") + refusal("0x0A000003", "0x06000002"));
  EXPECT_EQ(refused.out, "extracted 1 file, 500 bytes, 2 failed\n");
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_EQ(tree_of(path("out")), (std::vector<std::string>{"06/", "06/06000001.bin"}));

  const auto one_type = run_tool({"extract", archive, path("06"), "--type", "06"});
  EXPECT_EQ(one_type.err, refusal("0x06000002", "0x0A000003"));
  EXPECT_EQ(one_type.out, "extracted 1 file, 500 bytes, 1 failed\n");

  const auto allowed = run_tool({"extract", archive, path("all"), "--allow-shared"});
  EXPECT_EQ(allowed.out, "extracted 3 files, 2300 bytes, 0 failed\n");
  EXPECT_EQ(allowed.exit_code, 0) << allowed.err;
}

class InterruptedExtract : public ToolTest, public ::testing::WithParamInterface<int> {};

// Files of 3 MB whose chains loop on one block: allowed, extract would write
// gigabytes, so the signal comes while it works. It takes back what it had
// half written, keeps what it finished, sums up and exits as interrupted.
TEST_P(InterruptedExtract, StopsCleanlyLeavingOnlyWholeFiles) {
#ifdef _WIN32
  if (GetParam() == SIGTERM) {
    GTEST_SKIP() << "Windows has no SIGTERM; its counterpart, a closing console, is not "
                    "an event one program can send another";
  }
#endif
  constexpr std::uint32_t kFiles = 1000, kLength = 3'000'000;
  const std::string archive =
      write_image(test_support::looping_files_archive(kFiles, kLength), "big.dat");
  const std::string folder = path("out");
  RunningTool tool({"extract", archive, folder, "--allow-shared", "--threads", "2"}, dir_.path());
  // Once one file is whole (its temporary renamed), so that the sizes below
  // have one to agree with.
  const auto one_whole = [&] {
    if (!fs::exists(folder + "/01")) return false;
    for (const auto& file : fs::directory_iterator(folder + "/01")) {
      if (!file.path().filename().string().starts_with(".")) return true;
    }
    return false;
  };
  const auto started = std::chrono::steady_clock::now();
  while (!one_whole()) {
    ASSERT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(60));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  tool.signal(GetParam());
  const auto ended = tool.wait().result;
  EXPECT_EQ(ended.exit_code, 128 + GetParam()) << ended.err;
  std::smatch summary;
  ASSERT_TRUE(std::regex_match(
      ended.out, summary, std::regex("extracted ([0-9]+) files?, ([0-9]+) bytes?, 0 failed\n")))
      << ended.out;
  const std::size_t extracted = std::stoul(summary[1]);
  EXPECT_LT(extracted, kFiles);
  EXPECT_TRUE(std::regex_search(ended.err, std::regex("interrupted; [0-9]+ files not extracted\n")))
      << ended.err;
  const std::vector<std::string> tree = tree_of(folder);
  ASSERT_EQ(tree.size(), extracted + 1) << "a temporary file was left behind";
  const auto size = fs::file_size(folder + "/" + tree.back());
  EXPECT_EQ(std::to_string(size * extracted), std::string(summary[2]));
  for (const std::string& name : tree) {
    if (name != "01/") {
      EXPECT_EQ(fs::file_size(folder + "/" + name), size) << name;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Signals, InterruptedExtract, ::testing::Values(SIGINT, SIGTERM),
                         [](const auto& info) { return info.param == SIGINT ? "Int" : "Term"; });

// Named for the thread-sanitizer run, which picks tests with "Parallel" in their names.
class ParallelExtract : public ToolTest {};

TEST_F(ParallelExtract, OneThreadAndSeveralWriteTheSameFiles) {
  const std::string archive = write_retail();
  const auto one = run_tool({"extract", archive, path("one"), "--threads", "1"});
  const auto three = run_tool({"extract", archive, path("three"), "--threads", "3"});
  ASSERT_EQ(one.exit_code, 0) << one.err;
  ASSERT_EQ(three.exit_code, 0) << three.err;
  EXPECT_EQ(one.out, three.out);

  const auto db = DatDatabase::open(archive);
  ASSERT_TRUE(db.has_value());
  std::vector<std::string> expected_tree;
  for (const auto& [id, entry] : db->directory()) {
    const std::string type = hex8(id).substr(2, 2);
    const std::string name = type + "/" + hex8(id).substr(2) + ".bin";
    expected_tree.push_back(name);
    if (std::ranges::find(expected_tree, type + "/") == expected_tree.end()) {
      expected_tree.push_back(type + "/");
    }
    const Bytes contents = db->get_file(id).value();
    ASSERT_EQ(read_bytes(path("one") + "/" + name), contents) << name;
    ASSERT_EQ(read_bytes(path("three") + "/" + name), contents) << name;
  }
  std::ranges::sort(expected_tree);
  EXPECT_EQ(tree_of(path("one")), expected_tree);
  EXPECT_EQ(tree_of(path("three")), expected_tree);
}

class ExtractProgress : public ToolTest {
 protected:
  void SetUp() override { archive_ = write_retail(); }
  std::string archive_;
};

// The last drawing of the line: every file done, nothing left.
const std::regex kFinalLine(
    "\rextract: 583/583 files written, [0-9.]+ [KM]iB, [0-9.]+ [KMG]?i?B/s, 0:00 left *"
    "\r?\n");

TEST_F(ExtractProgress, ShowsOnATerminalAndEndsWithTheSummary) {
  SKIP_WITHOUT_TERMINAL();
  const auto run = run_tool_in_terminal({"extract", archive_, path("out")});
  EXPECT_EQ(run.exit_code, 0) << run.out;
  std::smatch line;
  ASSERT_TRUE(std::regex_search(run.out, line, kFinalLine)) << run.out;
  EXPECT_TRUE(run.out.substr(line.position() + line.length()).starts_with("extracted 583 files, "))
      << run.out;
}

// A file that is not written is not counted: the line's last count is the summary's.
TEST_F(ExtractProgress, CountsWhatWasWrittenAsTheSummaryDoes) {
  const std::string archive = write_archive(small_archive().builder, "small.dat");
  fs::create_directories(path("out") + "/0A");
  write_bytes(path("out") + "/0A/0A000011.bin", Bytes{'o', 'l', 'd'});
  const auto run = run_tool({"extract", archive, path("out"), "--type", "0A", "--progress"});
  EXPECT_EQ(run.out, "extracted 1 file, 700 bytes, 1 failed\n");
  EXPECT_TRUE(std::regex_search(run.err, std::regex("\rextract: 1/2 files written, 700 B, ")))
      << run.err;
}

TEST_F(ExtractProgress, NoProgressSilencesItOnATerminal) {
  SKIP_WITHOUT_TERMINAL();
  const auto run = run_tool_in_terminal({"extract", archive_, path("out"), "--no-progress"});
  EXPECT_EQ(run.exit_code, 0) << run.out;
  EXPECT_TRUE(run.out.starts_with("extracted 583 files, ")) << run.out;
}

TEST_F(ExtractProgress, IsOffWhenStandardErrorIsNoTerminalUnlessAskedFor) {
  const auto quiet = run_tool({"extract", archive_, path("quiet")});
  EXPECT_EQ(quiet.err, "");
  const auto asked = run_tool({"extract", archive_, path("asked"), "--progress"});
  EXPECT_TRUE(std::regex_search(asked.err, kFinalLine)) << asked.err;
  EXPECT_EQ(asked.out, quiet.out);
}

}  // namespace
}  // namespace brackwater_dat::cli_test
