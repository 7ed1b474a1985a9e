#pragma once
// Running the built brackwater-dat over archives that the test builders make,
// as a person would run it.
#include <gtest/gtest.h>

#include <brackwater_dat/dat_file_entry.hpp>
#include <filesystem>
#include <string>
#include <vector>

#include "support/archive_builder.hpp"
#include "support/subprocess.hpp"
#include "support/temp_dir.hpp"

namespace brackwater_dat::cli_test {

using test_support::ArchiveBuilder;
using test_support::ProcessOptions;
using test_support::ProcessResult;

// brackwater-dat with `args`.
ProcessResult run_tool(const std::vector<std::string>& args, const ProcessOptions& options = {});

// Why a test that needs a terminal is skipped on Windows.
#ifdef _WIN32
#define SKIP_WITHOUT_TERMINAL()                                                           \
  GTEST_SKIP() << "Wine, which runs these tests, gives a child process no console whose " \
                  "mode it can read: no test here can show the tool a terminal"
#else
#define SKIP_WITHOUT_TERMINAL()
#endif

// What the tool calls a link in its messages.
#ifdef _WIN32
inline const std::string kLinkName = "a reparse point (a symbolic link or a junction)";
#else
inline const std::string kLinkName = "a symbolic link";
#endif

// Makes `link` a symbolic link to `target`, a folder or a file; false where
// the system makes none (Wine 8 takes CreateSymbolicLinkW and makes none).
bool make_symbolic_link(const std::filesystem::path& target, const std::filesystem::path& link,
                        bool folder);

// brackwater-dat with `args` under a pseudo-terminal (through script(1)):
// standard output and error both go to the terminal, whose text, with its
// line ends as \r\n, is `out`.
ProcessResult run_tool_in_terminal(const std::vector<std::string>& args);

// brackwater-dat started with `args` and left running, its standard output
// and error going to files in `folder`, for tests that signal it while it
// works or measure what it took: its peak resident memory is its own.
class RunningTool {
 public:
  RunningTool(const std::vector<std::string>& args, const std::filesystem::path& folder);
  RunningTool(const RunningTool&) = delete;
  RunningTool& operator=(const RunningTool&) = delete;

  // Asks it to stop as SIGINT (Ctrl+C) or SIGTERM would.
  void signal(int number) const { process_.stop(number); }

  struct Ended {
    ProcessResult result;
    long peak_rss_kib = 0;
    double seconds = 0;
  };
  // Waits for it to end.
  Ended wait();

 private:
  std::filesystem::path out_, err_;
  double started_ = 0;
  test_support::StartedProcess process_;
};

// 0x and eight upper-case hex digits, as the tool shows ids and offsets.
std::string hex8(std::uint32_t value);

// The system's words for a file that is not there, as the tool shows them:
// "No such file or directory (os error 2)" on Linux.
std::string missing_file_text();

// The line the tool writes to standard error for a failure.
std::string error_line(const std::string& message);

Bytes read_bytes(const std::filesystem::path& path);
void write_bytes(const std::filesystem::path& path, ByteView bytes);

// Every file and folder under `root`, as relative paths sorted; folders end in /.
std::vector<std::string> tree_of(const std::filesystem::path& root);

// A few files whose every field is known, block size 512:
//   0x01000002  stored, 100 bytes
//   0x0A000010  compressed, 700 bytes of text that compresses well
//   0x0A000011  stored, 1200 bytes over three blocks
//   0x20000001  compressed sound table (small_sound_table)
struct SmallArchive {
  ArchiveBuilder builder{512};
  std::vector<DatFileEntry> entries;  // sorted by id
  std::vector<Bytes> contents;        // of each entry
};
SmallArchive small_archive();

// The sound table of the small archive: kinds 0x46 (no entries), 0x58 (two
// entries) and 0x5B (a silent first entry with floats that are not finite).
Bytes small_sound_table();

// Archives written into a temporary folder of the test's own.
class ToolTest : public ::testing::Test {
 protected:
  // The builder's archive; a file_size left 0 is written as its length, as
  // an archive's header has it.
  std::string write_archive(const ArchiveBuilder& builder, const std::string& name = "a.dat");
  std::string write_image(ByteView image, const std::string& name);
  // The synthetic retail archive, good variant.
  std::string write_retail(const std::string& name = "client_portal.dat");
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  test_support::TempDir dir_;
};

// The small archive, written for tests of the commands over it.
class SmallArchiveTest : public ToolTest {
 protected:
  void SetUp() override { archive_ = write_archive(small_.builder); }

  SmallArchive small_ = small_archive();
  std::string archive_;
};

// Bytes as the text a command writes them.
inline std::string text_of(ByteView bytes) { return std::string(bytes.begin(), bytes.end()); }

}  // namespace brackwater_dat::cli_test
