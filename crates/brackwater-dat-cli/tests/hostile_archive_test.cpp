// Every command over archives broken on purpose ends in a clear error or a
// report: never a crash, a hang or a half-written line.
#include <functional>
#include <optional>
#include <ostream>

#include "support/archive_builder.hpp"
#include "tool_test.hpp"

namespace brackwater_dat::cli_test {
namespace {

constexpr std::uint32_t kId = 0x20000001;

Bytes sample(std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 31 + 7);
  return bytes;
}

// A file kId whose entry (and so chain) the case may bend, in an archive of
// one more good file, laid out in blocks of `block_size` and claiming
// `stated_block_size`.
Bytes with_entry(const std::function<void(ArchiveBuilder&, DatFileEntry&)>& bend,
                 std::uint32_t block_size = 1024,
                 std::optional<std::uint32_t> stated_block_size = std::nullopt) {
  ArchiveBuilder builder(block_size);
  DatFileEntry entry = builder.store_file(kId, sample(3000));
  const DatFileEntry good = builder.store_file(0x06000001, sample(500));
  bend(builder, entry);
  builder.header().root_offset = builder.store_tree(std::vector{good, entry});
  builder.header().block_size = stated_block_size.value_or(block_size);
  return builder.image();
}

void no_change(ArchiveBuilder&, DatFileEntry&) {}

struct HostileCase {
  const char* name;
  std::function<Bytes()> image;
  // Whether verify has a problem to report. Below a block size of 4 every
  // chain is read as one block, so the files lie in no way it can fault.
  bool verify_reports = true;
};

const HostileCase kCases[] = {
    {"ZeroBlockSize", [] { return with_entry(no_change, 1024, 0); }, false},
    {"TinyBlockSize", [] { return with_entry(no_change, 2048, 3); }, false},
    {"LinkPastTheEnd",
     [] {
       return with_entry(
           [](ArchiveBuilder& b, DatFileEntry& e) { b.put_u32(e.offset, 0x7FFFFFF0); });
     }},
    {"ChainLoop",
     [] {
       return with_entry([](ArchiveBuilder& b, DatFileEntry& e) {
         b.put_u32(e.offset + 1024, e.offset);  // the second block links back to the first
         e.size = 9000;
       });
     }},
    // Blocks that hold nothing, and a chain that never reaches its end; the
    // directory node fits one block, so it still reads.
    {"ZeroCapacityLoop",
     [] {
       return with_entry(
           [](ArchiveBuilder& b, DatFileEntry& e) { b.put_u32(e.offset + 2048, e.offset); }, 2048,
           4);
     }},
    {"SizePastTheEnd",
     [] { return with_entry([](ArchiveBuilder&, DatFileEntry& e) { e.size = 0xFFFFFFF0; }); }},
    {"CompressedGarbage",
     [] {
       return with_entry([](ArchiveBuilder& b, DatFileEntry& e) {
         e.bit_flags = 1;
         b.put_u32(e.offset + 4, 0xFFFFFFFF);  // declares 4 GiB
       });
     }},
    {"RootPastTheEnd",
     [] {
       Bytes image = with_entry(no_change);
       image[0x160] = 0, image[0x161] = 0, image[0x162] = 0, image[0x163] = 0x40;  // root_offset
       return image;
     }},
    {"DirectoryLoop",
     [] {
       ArchiveBuilder builder(1024);
       const std::uint32_t root = builder.allocate_block();
       builder.allocate_block();
       test_support::NodeSpec node;
       node.children[0] = root;
       node.entries.push_back(builder.store_file(kId, sample(100)));
       builder.write_chain(std::vector{root, root + 1024}, test_support::encode_node(node));
       builder.header().root_offset = root;
       return builder.image();
     }},
    {"Truncated",
     [] {
       Bytes image = small_archive().builder.image();
       image.resize(image.size() * 3 / 5);
       return image;
     }},
    {"NoHeader", [] { return Bytes(0x150, 0); }},
    {"Empty", [] { return Bytes(); }},
};

void PrintTo(const HostileCase& hostile, std::ostream* out) { *out << hostile.name; }

class HostileArchive : public ToolTest, public ::testing::WithParamInterface<HostileCase> {};

TEST_P(HostileArchive, EveryCommandEndsInAnErrorOrAReport) {
  const std::string archive = write_image(GetParam().image(), "hostile.dat");
  const std::string good = write_archive(small_archive().builder, "good.dat");
  const std::string id = hex8(kId);
  const std::vector<std::vector<std::string>> commands = {
      {"info", archive},
      {"info", archive, "--json"},
      {"ls", archive},
      {"ls", archive, "--json"},
      {"cat", archive, id},
      {"cat", archive, id, "--raw"},
      {"extract", archive, path("out")},
      {"extract", archive, path("raw"), "--raw", "--threads", "2"},
      {"sound", archive, id},
      {"sound", archive, id, "--json"},
      {"resolve", archive, id, "0x58"},
      {"verify", archive},
      {"verify", archive, "--json"},
      {"diff", good, archive, "--content"},
      {"diff", archive, good, "--json"},
  };
  std::optional<bool> verify_reported;
  for (const auto& args : commands) {
    std::string command;
    for (const auto& arg : args)
      command += (arg == archive ? "HOSTILE" : arg == good ? "GOOD" : arg) + " ";
    SCOPED_TRACE(command);
    const auto run = run_tool(args);
    ASSERT_EQ(run.signal, 0) << run.err;
    ASSERT_TRUE(run.exit_code.has_value());
    const int status = *run.exit_code;
    EXPECT_TRUE(status == 0 || status == 1 || status == 2) << status;
    if (status == 2) {
      EXPECT_EQ(run.out, "");
      EXPECT_FALSE(run.err.empty());
    }
    if (status == 0) {
      EXPECT_EQ(run.err, "");
    }
    // Every error is a whole line of its own.
    for (std::size_t at = 0; at < run.err.size(); at = run.err.find('\n', at) + 1) {
      EXPECT_TRUE(run.err.compare(at, 23, "brackwater-dat: error: ") == 0) << run.err;
      ASSERT_NE(run.err.find('\n', at), std::string::npos) << run.err;
    }
    EXPECT_TRUE(run.out.empty() || run.out.ends_with('\n') || args[0] == "cat") << run.out;
    if (args[0] == "verify") verify_reported = status != 0;
  }
  EXPECT_EQ(verify_reported, GetParam().verify_reports);
}

INSTANTIATE_TEST_SUITE_P(Archives, HostileArchive, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace brackwater_dat::cli_test
