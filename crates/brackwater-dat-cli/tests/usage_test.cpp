// The command line: help, version, and usage errors as one line and status 2.
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

#include <brackwater_dat/error.hpp>
#include <ostream>

#include "tool_test.hpp"

namespace brackwater_dat::cli_test {
namespace {

struct UsageCase {
  const char* name;
  std::vector<std::string> args;  // "A" stands for a good archive
  std::string error;
};

void PrintTo(const UsageCase& param, std::ostream* out) { *out << param.name; }

class UsageError : public ToolTest, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(UsageError, IsOneErrorLineWithStatusTwoAndNoOutput) {
  const std::string archive = write_archive(small_archive().builder);
  std::vector<std::string> args = GetParam().args;
  for (auto& arg : args) arg = arg == "A" ? archive : arg;
  const auto run = run_tool(args);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, error_line(GetParam().error));
  EXPECT_EQ(run.exit_code, 2);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, UsageError,
    ::testing::Values(
        UsageCase{"NoCommand",
                  {},
                  "no command given; the commands are info, ls, cat, extract, sound, resolve, "
                  "verify, diff, create and repack"},
        UsageCase{"UnknownOptionAlone", {"--bogus"}, "unknown option '--bogus'"},
        UsageCase{"UnknownOptionOfACommand", {"ls", "A", "--josn"}, "unknown option '--josn'"},
        UsageCase{"OptionWithoutItsValue", {"ls", "A", "--type"}, "--type needs a value"},
        UsageCase{"UnknownCommand",
                  {"unpack", "A"},
                  "unknown command 'unpack'; the commands are info, ls, cat, extract, sound, "
                  "resolve, verify, diff, create and repack"},
        UsageCase{"MissingArchive", {"info"}, "ARCHIVE is required"},
        UsageCase{"ExtraArgument", {"info", "A", "B"}, "unexpected argument 'B'"},
        UsageCase{"HexDigitsThatAreNot",
                  {"cat", "A", "0xZZ"},
                  "ID: '0xZZ' is not an id: use hex digits (0x0A000262 or 0A000262), or decimal"},
        UsageCase{"PrefixAlone",
                  {"cat", "A", "0x"},
                  "ID: '0x' is not an id: use hex digits (0x0A000262 or 0A000262), or decimal"},
        UsageCase{"UpperCasePrefixAlone",
                  {"cat", "A", "0X"},
                  "ID: '0X' is not an id: use hex digits (0x0A000262 or 0A000262), or decimal"},
        UsageCase{"NotHexLetters",
                  {"cat", "A", "12abz"},
                  "ID: '12abz' is not an id: use hex digits (0x0A000262 or 0A000262), or decimal"},
        UsageCase{
            "PastThirtyTwoBits",
            {"cat", "A", "4294967296"},
            "ID: '4294967296' is not an id: use hex digits (0x0A000262 or 0A000262), or decimal"},
        UsageCase{"HexPastThirtyTwoBits",
                  {"resolve", "A", "0x20000001", "0x100000000"},
                  "KIND: '0x100000000' is not an id: use hex digits (0x0A000262 or 0A000262), or "
                  "decimal"},
        UsageCase{"SignedKind",
                  {"sound", "A", "0x20000001", "+5"},
                  "KIND: '+5' is not an id: use hex digits (0x0A000262 or 0A000262), or decimal"},
        UsageCase{"ResolveWithoutKinds", {"resolve", "A", "0x20000001"}, "KIND is required"},
        UsageCase{"TypeOfThreeDigits",
                  {"ls", "A", "--type", "0A0"},
                  "--type: '0A0' is not a file type: use two hex digits, as 0A"},
        UsageCase{"TypeNotHex",
                  {"extract", "A", "out", "--type", "G1"},
                  "--type: 'G1' is not a file type: use two hex digits, as 0A"},
        UsageCase{"NoThreads",
                  {"extract", "A", "out", "--threads", "0"},
                  "--threads: '0' is not a thread count: use 1 to 1024"},
        UsageCase{"ProgressBothWays",
                  {"verify", "A", "--progress", "--no-progress"},
                  "--progress excludes --no-progress"}),
    [](const auto& info) { return std::string(info.param.name); });

struct UnopenableCase {
  const char* name;
  std::vector<std::string> args;  // "M" stands for the missing archive, "OUT" for a folder
};

void PrintTo(const UnopenableCase& param, std::ostream* out) { *out << param.name; }

class MissingArchive : public ToolTest, public ::testing::WithParamInterface<UnopenableCase> {};

TEST_P(MissingArchive, FailsWithTheReasonAndStatusTwo) {
  const std::string missing = path("missing.dat");
  std::vector<std::string> args = GetParam().args;
  for (auto& arg : args) arg = arg == "M" ? missing : arg == "OUT" ? path("out") : arg;
  const auto run = run_tool(args);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, error_line("cannot open " + missing + ": " + missing_file_text()));
  EXPECT_EQ(run.exit_code, 2);
}

INSTANTIATE_TEST_SUITE_P(Commands, MissingArchive,
                         ::testing::Values(UnopenableCase{"Info", {"info", "M"}},
                                           UnopenableCase{"Ls", {"ls", "M"}},
                                           UnopenableCase{"Cat", {"cat", "M", "1"}},
                                           UnopenableCase{"Extract", {"extract", "M", "OUT"}},
                                           UnopenableCase{"Sound", {"sound", "M", "1"}},
                                           UnopenableCase{"Resolve", {"resolve", "M", "1", "2"}},
                                           UnopenableCase{"Verify", {"verify", "M"}},
                                           UnopenableCase{"DiffOld", {"diff", "M", "M"}}),
                         [](const auto& info) { return std::string(info.param.name); });

// No FIFO is an archive; the message names the path, as for any path that
// cannot be opened.
#ifdef _WIN32
TEST_F(ToolTest, AFifoIsAPathThatCannotBeOpened) {
  const std::string name = "\\\\.\\pipe\\" + dir_.path().filename().string();
  const std::wstring wide_name(name.begin(), name.end());
  const HANDLE pipe = ::CreateNamedPipeW(wide_name.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE, 1,
                                         0, 0, 0, nullptr);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  const auto run = run_tool({"ls", name});
  ::CloseHandle(pipe);
  EXPECT_EQ(run.err,
            error_line("cannot open " + name + ": " +
                       display_text(brackwater_dat::IoError::from_windows(ERROR_SEEK_ON_DEVICE))));
  EXPECT_EQ(run.exit_code, 2);
}
#else
TEST_F(ToolTest, AFifoIsAPathThatCannotBeOpened) {
  ASSERT_EQ(::mkfifo(path("pipe").c_str(), 0600), 0);
  const auto run = run_tool({"ls", path("pipe")});
  EXPECT_EQ(run.err,
            error_line(path("pipe") + " is a pipe or socket: an archive is read at offsets, so it "
                                      "needs a seekable file"));
  EXPECT_EQ(run.exit_code, 2);
}
#endif

// A reader that goes once it has what it wants, as `head` does, is no error:
// the tool ends quietly, as other programs in a pipeline do: by SIGPIPE on
// POSIX, with the status 141 that a shell shows for it on Windows.
TEST_F(ToolTest, AClosedPipeEndsTheToolQuietly) {
  ArchiveBuilder builder(1024);
  std::vector<DatFileEntry> entries;
  for (std::uint32_t i = 0; i < 5000; ++i) entries.push_back({0, 0x01000000 + i, 0, 0, 0, 0});
  builder.header().root_offset = builder.store_tree(entries);
  const std::string archive = write_archive(builder);
#ifdef _WIN32
  // The pipe's reader has gone before the tool writes a byte.
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  HANDLE reader = nullptr, writer = nullptr;
  ASSERT_TRUE(::CreatePipe(&reader, &writer, &inherited, 0));
  ::CloseHandle(reader);
  const HANDLE errors = ::CreateFileW((dir_ / "err.txt").c_str(), GENERIC_WRITE, 0, &inherited,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(errors, INVALID_HANDLE_VALUE);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writer;
  startup.hStdError = errors;
  std::wstring line = L"\"" + std::filesystem::path(BRACKWATER_DAT_PATH).wstring() + L"\" ls \"" +
                      std::filesystem::path(archive).wstring() + L"\"";
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                               &startup, &process));
  ::CloseHandle(writer);
  ::CloseHandle(errors);
  ::WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 0;
  ::GetExitCodeProcess(process.hProcess, &status);
  ::CloseHandle(process.hProcess);
  ::CloseHandle(process.hThread);
  EXPECT_EQ(status, 141u);
  EXPECT_EQ(read_bytes(dir_ / "err.txt"), Bytes{});
#else
  const auto run = test_support::run_process(
      {"bash", "-c", "\"$0\" ls \"$1\" | head -1 > /dev/null; echo \"${PIPESTATUS[0]}\"",
       BRACKWATER_DAT_PATH, archive});
  EXPECT_EQ(run.out, "141\n");
  EXPECT_EQ(run.err, "");
#endif
}

TEST(Help, ShowsEveryCommandAndEachCommandsOptions) {
  const auto program = run_tool({"--help"});
  EXPECT_EQ(program.exit_code, 0);
  for (const char* command :
       {"info", "ls", "cat", "extract", "sound", "resolve", "verify", "diff"}) {
    EXPECT_NE(program.out.find(std::string("  ") + command + " "), std::string::npos) << command;
  }
  const auto extract = run_tool({"extract", "--help"});
  EXPECT_EQ(extract.exit_code, 0);
  for (const char* option : {"--type", "--raw", "--threads", "--force", "--allow-shared",
                             "--progress", "--no-progress"}) {
    EXPECT_NE(extract.out.find(option), std::string::npos) << option;
  }
  EXPECT_EQ(extract.err, "");
  // In the tool's words: no CLI11 type tags or SUBCOMMAND.
  for (const auto* help : {&program.out, &extract.out}) {
    for (const char* tag : {"TEXT", "UINT", "REQUIRED", "SUBCOMMAND", "Excludes"}) {
      EXPECT_EQ(help->find(tag), std::string::npos) << tag << " in\n" << *help;
    }
  }
  EXPECT_NE(program.out.find("Usage: brackwater-dat [OPTIONS] COMMAND\n"), std::string::npos);
}

TEST(Version, IsTheProgramNameAndTheLibraryVersion) {
  const auto run = run_tool({"--version"});
  EXPECT_EQ(run.out, "brackwater-dat " BRACKWATER_DAT_VERSION "\n");
  EXPECT_EQ(run.exit_code, 0);
}

}  // namespace
}  // namespace brackwater_dat::cli_test
