// create and repack: new archives from a folder or from another archive.
#include <brackwater_dat/dat_database.hpp>
#include <chrono>
#include <csignal>
#include <map>
#include <nlohmann/json.hpp>
#include <thread>

#include "support/realistic_archives.hpp"
#include "tool_test.hpp"

namespace brackwater_dat::cli_test {
namespace {

namespace fs = std::filesystem;

class Write : public ToolTest {
 protected:
  // Every file of the archive at `path`, by id, as get_file gives it, and
  // what verify says of it.
  std::map<std::uint32_t, Bytes> files_of(const std::string& archive) {
    const auto verified = run_tool({"verify", archive});
    EXPECT_EQ(verified.exit_code, 0) << verified.out << verified.err;
    std::map<std::uint32_t, Bytes> files;
    auto db = DatDatabase::open(archive);
    EXPECT_TRUE(db) << archive;
    for (const auto& [id, entry] : db->directory()) files[id] = *db->get_file(id);
    return files;
  }
};

// extract, then create like the original: every file reads back the same,
// with its entry's timestamp and version and the header's stored fields;
// repack keeps every stored byte, or recompresses, puts and removes.
TEST_F(Write, CreateAndRepackKeepEveryFile) {
  const std::string retail = write_retail();
  const auto original = files_of(retail);
  ASSERT_EQ(run_tool({"extract", retail, path("d")}).exit_code, 0);
  const auto created = run_tool({"create", path("c.dat"), path("d"), "--like", retail});
  ASSERT_EQ(created.exit_code, 0) << created.err;
  EXPECT_EQ(files_of(path("c.dat")), original);
  const auto retail_db = DatDatabase::open(retail);
  const auto created_db = DatDatabase::open(path("c.dat"));
  DatHeader header = created_db->header();
  header.file_size = retail_db->header().file_size;
  header.root_offset = retail_db->header().root_offset;
  EXPECT_EQ(header, retail_db->header());
  for (const auto& [id, entry] : retail_db->directory()) {
    const auto made = created_db->find(id);
    EXPECT_EQ(std::tuple(made->timestamp, made->version, made->bit_flags & 1),
              std::tuple(entry.timestamp, entry.version, entry.bit_flags & 1));
  }

  const auto kept = run_tool({"repack", retail, path("k.dat"), "--json"});
  ASSERT_EQ(kept.exit_code, 0) << kept.err;
  EXPECT_EQ(run_tool({"diff", retail, path("k.dat")}).out, "");  // every entry and stored byte
  const auto summary = nlohmann::json::parse(kept.out);
  EXPECT_EQ(summary["files"], original.size());
  EXPECT_EQ(summary["archive_bytes"], fs::file_size(path("k.dat")));

  write_bytes(path("new.bin"), Bytes(5000, 7));
  write_bytes(path("swap.bin"), Bytes{1, 2, 3});
  const auto changed =
      run_tool({"repack", path("k.dat"), path("r.dat"), "--compress", "best", "--block-size",
                "4096", "--put", "0x0B000001=" + path("new.bin"), "--put",
                "0x20000001=" + path("swap.bin"), "--remove", "0x200000A8", "--no-progress"});
  ASSERT_EQ(changed.exit_code, 0) << changed.err;
  EXPECT_TRUE(changed.out.starts_with("repacked " + path("r.dat") + ": 583 files, "))
      << changed.out;
  auto expected = original;
  expected[0x0B000001] = Bytes(5000, 7);
  expected[0x20000001] = {1, 2, 3};
  expected.erase(0x200000A8);
  EXPECT_EQ(files_of(path("r.dat")), expected);
  EXPECT_EQ(DatDatabase::open(path("r.dat"))->header().block_size, 4096u);
}

struct Refusal {
  std::string name;
  std::vector<std::string>
      args;  // A: an archive, D (or ID=D): an extracted folder, O: a new name, T: a taken one
  std::string error;
  friend void PrintTo(const Refusal& refusal, std::ostream* out) { *out << refusal.name; }
};

class WriteRefusal : public Write, public ::testing::WithParamInterface<Refusal> {};

// Each refusal writes nothing: the folder holds what it held before.
TEST_P(WriteRefusal, WritesNothing) {
  const std::string archive = write_retail("a.dat");
  ASSERT_EQ(run_tool({"extract", archive, path("d")}).exit_code, 0);
  write_bytes(path("d/0A/stray.txt"), {});
  write_bytes(path("taken.dat"), Bytes{1});
  const auto before = tree_of(dir_.path());
  std::vector<std::string> args;
  for (const std::string& arg : GetParam().args) {
    args.push_back(arg == "A"            ? archive
                   : arg == "D"          ? path("d")
                   : arg == "O"          ? path("o.dat")
                   : arg == "T"          ? path("taken.dat")
                   : arg.ends_with("=D") ? arg.substr(0, arg.size() - 1) + path("d")
                                         : arg);
  }
  const auto run = run_tool(args);
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_NE(run.err.find(GetParam().error), std::string::npos) << run.err;
  EXPECT_EQ(tree_of(dir_.path()), before);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WriteRefusal,
    ::testing::Values(
        Refusal{"SameFile", {"repack", "A", "A", "--force"}, "is the archive being repacked"},
        Refusal{"ExistingOut", {"repack", "A", "T"}, "exists; use --force to overwrite it"},
        Refusal{"StrayFile", {"create", "O", "D"}, "0A/stray.txt is not a file as extract writes"},
        Refusal{"RemoveMissing",
                {"repack", "A", "O", "--remove", "0x0C000001"},
                "cannot remove 0x0C000001: no such file"},
        Refusal{"BadId", {"repack", "A", "O", "--put", "0xZZ=x"}, "is not ID=FILE"},
        Refusal{"PutFolder", {"repack", "A", "O", "--put", "0x0A000001=D"}, "cannot read"},
        Refusal{"BadBlockSize", {"repack", "A", "O", "--block-size", "1026"}, "block size 1026"}),
    [](const auto& info) { return info.param.name; });

class InterruptedRepack : public Write, public ::testing::WithParamInterface<int> {};

// SIGKILL's number, which Windows headers do not name.
constexpr int kKill = 9;

// Stopped while it works, by a signal it can take or by SIGKILL: the input
// is as it was and nothing is at OUT; taking the signal, it also removes
// its temporaries and exits as interrupted.
TEST_P(InterruptedRepack, LeavesNothingAtOut) {
#ifdef _WIN32
  if (GetParam() != SIGINT) GTEST_SKIP() << "Windows sends no SIGTERM or SIGKILL to a console";
#endif
  const std::string input = write_image(test_support::realistic_image(3000, false), "in.dat");
  const Bytes before = read_bytes(input);
  RunningTool tool({"repack", input, path("out.dat"), "--compress", "best"}, dir_.path());
  // Until its spool, a temporary beside OUT, holds something.
  const auto started = std::chrono::steady_clock::now();
  const auto working = [&] {
    for (const auto& file : fs::directory_iterator(dir_.path())) {
      const std::string name = file.path().filename().string();
      if (name.starts_with(".out.dat.") && file.file_size() > 0) return true;
    }
    return false;
  };
  while (!working()) {
    ASSERT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(60));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  tool.signal(GetParam());
  const auto ended = tool.wait().result;
  EXPECT_EQ(read_bytes(input), before);
  EXPECT_FALSE(fs::exists(path("out.dat")));
  if (GetParam() == kKill) return;
  EXPECT_EQ(ended.exit_code, 128 + GetParam()) << ended.err;
  EXPECT_NE(ended.err.find("interrupted; nothing written"), std::string::npos) << ended.err;
  for (const auto& file : fs::directory_iterator(dir_.path())) {
    EXPECT_FALSE(file.path().filename().string().starts_with(".out.dat")) << file.path();
  }
}

INSTANTIATE_TEST_SUITE_P(Signals, InterruptedRepack, ::testing::Values(SIGINT, SIGTERM, kKill),
                         [](const auto& info) {
                           return info.param == SIGINT    ? "Int"
                                  : info.param == SIGTERM ? "Term"
                                                          : "Kill";
                         });

}  // namespace
}  // namespace brackwater_dat::cli_test
