// Every command over archives broken on purpose ends in a clear error or a
// report: never a crash, a hang or a half-written line; and over archives
// built to make a reader repeat itself, in little time and memory.
#include <functional>
#include <iostream>
#include <optional>
#include <ostream>

#include "support/amplifying_archives.hpp"
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
};

// Each command's peak memory; what it would take unbounded is hundreds of MB
// (verify kept every visit of every looping chain) or gigabytes written.
// AddressSanitizer's shadow and quarantine lift every process several times
// over (40 MB before it reads a byte), so its build gets a wider bound.
#if defined(__SANITIZE_ADDRESS__)
constexpr long kPeakRssLimitKib = 256 * 1024;
#else
constexpr long kPeakRssLimitKib = 64 * 1024;
#endif

const HostileCase kCases[] = {
    {"ZeroBlockSize", [] { return with_entry(no_change, 1024, 0); }},
    {"TinyBlockSize", [] { return with_entry(no_change, 2048, 3); }},
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
    {"Zeros", [] { return Bytes(400, 0); }},
    // Files whose chains all start at one block that links to itself: each
    // would read the block over and over for as long as the archive is long.
    {"TenThousandLoopingFiles",
     [] { return test_support::looping_files_archive(10'000, 1'500'000); }},
    // In blocks of 8 bytes a read of either visits the block 100,000 times.
    {"TwoLoopingFiles", [] { return test_support::looping_files_archive(2, 400'000, 8); }},
    {"OneLoopingFile", [] { return test_support::looping_files_archive(1, 3'000'000); }},
    // Files that all are one chain through 1.5 MB: reading each would read
    // it all again, and walking each, every link again.
    {"TenThousandFilesOnOneChain",
     [] { return test_support::shared_chain_archive(10'000, 1'500'000); }},
};

void PrintTo(const HostileCase& hostile, std::ostream* out) { *out << hostile.name; }

class HostileArchive : public ToolTest, public ::testing::WithParamInterface<HostileCase> {};

TEST_P(HostileArchive, EveryCommandEndsInAnErrorOrAReportInBoundedMemory) {
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
  for (const auto& args : commands) {
    std::string command;
    for (const auto& arg : args)
      command += (arg == archive ? "HOSTILE" : arg == good ? "GOOD" : arg) + " ";
    SCOPED_TRACE(command);
    RunningTool tool(args, dir_.path());
    const auto [run, peak_rss_kib, seconds] = tool.wait();
    // What each took, for people reading the log; time is measured, not judged, here.
    std::cout << command << ": " << static_cast<long>(seconds * 1000) << " ms, " << peak_rss_kib
              << " KiB\n";
    EXPECT_LT(peak_rss_kib, kPeakRssLimitKib);
    ASSERT_EQ(run.signal, 0) << run.err;
    ASSERT_TRUE(run.exit_code.has_value());
    const int status = *run.exit_code;
    EXPECT_TRUE(status == 0 || status == 1 || status == 2) << status;
    if (status == 2) {
      EXPECT_EQ(run.out, "");
      EXPECT_FALSE(run.err.empty());
    }
    // Every message is a whole line of its own; a command that succeeds may
    // warn, but not fail.
    for (std::size_t at = 0; at < run.err.size(); at = run.err.find('\n', at) + 1) {
      const bool error = run.err.compare(at, 23, "brackwater-dat: error: ") == 0;
      const bool warning = run.err.compare(at, 25, "brackwater-dat: warning: ") == 0;
      EXPECT_TRUE(warning || (error && status != 0)) << run.err;
      ASSERT_NE(run.err.find('\n', at), std::string::npos) << run.err;
    }
    EXPECT_TRUE(run.out.empty() || run.out.ends_with('\n') || args[0] == "cat") << run.out;
    // Every one of these archives is at fault somewhere verify can see.
    if (args[0] == "verify") {
      EXPECT_NE(status, 0) << run.out;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Archives, HostileArchive, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace brackwater_dat::cli_test
