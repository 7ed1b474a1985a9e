// verify: every file read, and each problem in how files lie reported.
#include <nlohmann/json.hpp>

#include "support/amplifying_archives.hpp"
#include "support/lrs_codec.hpp"
#include "tool_test.hpp"

namespace brackwater_dat::cli_test {
namespace {

using nlohmann::json;

Bytes counting(std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 13 + i / 7);
  return bytes;
}

// One good file, then one file for each problem, two sharing a block.
struct ProblemArchive {
  ArchiveBuilder builder{1024};
  std::uint32_t shared_block = 0;
  std::uint32_t early_block = 0;

  ProblemArchive() {
    std::vector<DatFileEntry> entries;
    entries.push_back(builder.store_file(0x06000001, counting(1500)));
    // Its chain starts past the end of the archive.
    entries.push_back({0, 0x06000002, 0x00100000, 10, 0, 0});
    // Its length prefix declares 50 bytes more than the stream holds.
    Bytes stream = test_support::compress_lrs(counting(600));
    stream[0] = 650 & 0xFF, stream[1] = 650 >> 8;
    entries.push_back({1, 0x06000003, builder.store_chain(stream),
                       static_cast<std::uint32_t>(stream.size()), 0, 0});
    // Too short to hold a length prefix at all.
    entries.push_back({1, 0x06000004, builder.store_chain(Bytes{1, 2}), 2, 0, 0});
    // The second starts at the first's second block.
    const DatFileEntry first = builder.store_file(0x06000005, counting(1500));
    shared_block = first.offset + 1024;
    entries.push_back(first);
    entries.push_back({0, 0x06000006, shared_block, 300, 0, 0});
    // A one-block chain asked for 1500 bytes; the block after it can be read on into.
    early_block = builder.store_chain(counting(100));
    builder.allocate_block();
    entries.push_back({0, 0x06000007, early_block, 1500, 0, 0});
    builder.header().root_offset = builder.store_tree(entries);
    past_the_end =
        "read failed: failed to fill whole buffer at offset 0x00100000, past the end "
        "of the archive's " +
        std::to_string(builder.size()) + " bytes";
  }
  std::string past_the_end;  // 0x06000002's error
};

class Verify : public ToolTest {};

TEST_F(Verify, ReportsEachProblemOfEachFileAndSumsUp) {
  const ProblemArchive problems;
  const auto run = run_tool({"verify", write_archive(problems.builder)});
  EXPECT_EQ(run.out, "0x06000002 read_error: " + problems.past_the_end +
                         "\n"
                         "0x06000003 short_stream: declares 650 bytes, the stream yields 600\n"
                         "0x06000004 short_stream: no length prefix in 2 stored bytes\n"
                         "0x06000005 shared_block: block " +
                         hex8(problems.shared_block) +
                         " is also in the chain of 0x06000006\n"
                         "0x06000006 shared_block: block " +
                         hex8(problems.shared_block) +
                         " is also in the chain of 0x06000005\n"
                         "0x06000007 early_end: the chain ends at block " +
                         hex8(problems.early_block) +
                         " with 1500 bytes still to read, more than its 1020\n"
                         "verified 7 files: 6 problems\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exit_code, 1);
}

TEST_F(Verify, JsonNamesEachProblem) {
  const ProblemArchive problems;
  const auto run = run_tool({"verify", write_archive(problems.builder), "--json"});
  EXPECT_EQ(run.exit_code, 1);
  const auto problem = [](std::uint32_t id, const char* name, const std::string& detail) {
    return json{{"id", id}, {"problem", name}, {"detail", detail}};
  };
  const json expected = {
      {"files", 7},
      {"problems",
       {problem(0x06000002, "read_error", problems.past_the_end),
        problem(0x06000003, "short_stream", "declares 650 bytes, the stream yields 600"),
        problem(0x06000004, "short_stream", "no length prefix in 2 stored bytes"),
        problem(0x06000005, "shared_block",
                "block " + hex8(problems.shared_block) + " is also in the chain of 0x06000006"),
        problem(0x06000006, "shared_block",
                "block " + hex8(problems.shared_block) + " is also in the chain of 0x06000005"),
        problem(0x06000007, "early_end",
                "the chain ends at block " + hex8(problems.early_block) +
                    " with 1500 bytes still to read, more than its 1020")}}};
  EXPECT_EQ(json::parse(run.out), expected);
}

// A root and three leaves: one with an id outside its place, one whose ids
// do not ascend.
struct DisorderedArchive {
  ArchiveBuilder builder{1024};
  std::array<std::uint32_t, 3> leaves{};

  DisorderedArchive() {
    const auto file = [&](std::uint32_t id) { return builder.store_file(id, counting(id)); };
    test_support::NodeSpec root;
    root.entries = {file(0x10), file(0x30)};
    const std::vector<std::vector<std::uint32_t>> leaf_ids = {{0x05, 0x20}, {0x28, 0x25}, {0x40}};
    for (std::size_t j = 0; j < leaf_ids.size(); ++j) {
      test_support::NodeSpec leaf;
      for (const std::uint32_t id : leaf_ids[j]) leaf.entries.push_back(file(id));
      root.children[j] = leaves[j] = builder.store_node(leaf);
    }
    builder.header().root_offset = builder.store_node(root);
  }
};

TEST_F(Verify, ADirectoryThatIsNoSearchTreeIsReportedOncePerNode) {
  const DisorderedArchive disordered;
  const std::string archive = write_archive(disordered.builder);
  const std::string outside =
      "directory node at " + hex8(disordered.leaves[0]) +
      ": id 0x00000020 lies outside its place in the tree, below 0x00000010";
  const std::string unordered = "directory node at " + hex8(disordered.leaves[1]) +
                                ": ids do not ascend: 0x00000028 then 0x00000025";
  const auto text = run_tool({"verify", archive});
  EXPECT_EQ(text.out, "directory_order: " + outside + "\ndirectory_order: " + unordered +
                          "\nverified 7 files: 2 problems\n");
  EXPECT_EQ(text.exit_code, 1);
  const auto listing = run_tool({"verify", archive, "--json"});
  const auto problem = [](const std::string& detail) {
    return json{{"id", nullptr}, {"problem", "directory_order"}, {"detail", detail}};
  };
  EXPECT_EQ(json::parse(listing.out),
            json({{"files", 7}, {"problems", {problem(outside), problem(unordered)}}}));
  // Read whole, the misplaced file is found; on demand, the lookup meets the
  // disordered leaf on its way and says so.
  EXPECT_EQ(run_tool({"cat", archive, "0x20"}).out.size(), 0x20u);
  const auto on_demand = run_tool({"cat", archive, "0x20", "--on-demand"});
  EXPECT_EQ(on_demand.err, error_line("corrupt archive: " + unordered));
  EXPECT_EQ(on_demand.exit_code, 2);
}

TEST_F(Verify, ASoundArchiveIsClean) {
  for (const std::string& archive : {write_retail(), write_archive(small_archive().builder)}) {
    SCOPED_TRACE(archive);
    const auto text = run_tool({"verify", archive});
    EXPECT_TRUE(text.out.starts_with("verified ")) << text.out;
    EXPECT_TRUE(text.out.ends_with(" files: 0 problems\n")) << text.out;
    EXPECT_EQ(text.exit_code, 0);
  }
  const auto listing = run_tool({"verify", write_retail(), "--json"});
  EXPECT_EQ(json::parse(listing.out), json({{"files", 583}, {"problems", json::array()}}));
  EXPECT_EQ(listing.exit_code, 0);
}

// A chain whose one block links to itself would give that block over and
// over; it is reported once, and not read.
TEST_F(Verify, AChainThatLoopsOnItselfIsReportedOnce) {
  const std::string archive =
      write_image(test_support::looping_files_archive(1, 2'000'000), "loop.dat");
  const auto text = run_tool({"verify", archive});
  EXPECT_EQ(text.out,
            "0x01000000 chain_loop: block 0x00000400 links back to block 0x00000400\n"
            "verified 1 file: 1 problem\n");
  EXPECT_EQ(text.exit_code, 1);
  const auto listing = run_tool({"verify", archive, "--json"});
  EXPECT_EQ(json::parse(listing.out)["problems"][0]["problem"], "chain_loop");
}

// What is no archive fails on its header, each field that does not fit a
// problem of its own, before any file is looked at.
TEST_F(Verify, AFileThatIsNoArchiveFailsOnItsHeader) {
  const std::string zeros = write_image(Bytes(400, 0), "zeros.dat");
  const auto text = run_tool({"verify", zeros});
  EXPECT_EQ(text.out,
            "header: magic is 0x00000000, not 0x00005442\n"
            "header: block size 0 is less than 8\n"
            "header: file_size says 0 bytes, the archive has 400\n"
            "verified 0 files: 3 problems\n");
  EXPECT_EQ(text.exit_code, 1);
  const auto listing = run_tool({"verify", zeros, "--json"});
  EXPECT_EQ(json::parse(listing.out)["problems"][0],
            json({{"id", nullptr},
                  {"problem", "header"},
                  {"detail", "magic is 0x00000000, not 0x00005442"}}));
  const auto program = run_tool({"verify", "/bin/true"});
  EXPECT_TRUE(program.out.starts_with("header: magic is ")) << program.out;
  EXPECT_EQ(program.exit_code, 1);
}

}  // namespace
}  // namespace brackwater_dat::cli_test
