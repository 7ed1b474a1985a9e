// Hostile inputs end in a clear error or value with bounded memory. Each runs
// in a process of its own, so the peak resident memory is its own.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>

#include "support/process_memory.hpp"
#include "support/subprocess.hpp"

namespace {

struct LimitCase {
  std::string scenario;
  std::string outcome;
  // Named in test listings, rather than dumped as bytes.
  friend void PrintTo(const LimitCase& c, std::ostream* os) { *os << c.scenario; }
};

class ResourceLimits : public ::testing::TestWithParam<LimitCase> {};

TEST_P(ResourceLimits, EndsClearlyInBoundedMemory) {
  if (GetParam().scenario.ends_with("out-of-memory") &&
      !brackwater_dat::test_support::can_limit_address_space()) {
    GTEST_SKIP() << "no address-space limit (RLIMIT_AS) to run the probe under here";
  }
  auto result = brackwater_dat::test_support::run_process({LIMITS_PROBE_PATH, GetParam().scenario});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  std::erase(result.out, '\r');  // a Windows program's text lines end in \r\n
  EXPECT_THAT(result.out, ::testing::StartsWith(GetParam().outcome + "\n"));
  std::smatch rss;
  ASSERT_TRUE(std::regex_search(result.out, rss, std::regex(R"(peak_rss_kib (\d+))")));
  EXPECT_LT(std::stol(rss[1]), PEAK_RSS_LIMIT_KIB) << result.out;
}

std::string scenario_name(const ::testing::TestParamInfo<LimitCase>& info) {
  std::string name = info.param.scenario;
  std::erase(name, '-');
  return name;
}

const std::string kEof =
    "Io(Error { kind: UnexpectedEof, message: \"failed to fill whole buffer\" })";

INSTANTIATE_TEST_SUITE_P(
    Scenarios, ResourceLimits,
    ::testing::Values(
        LimitCase{"huge-file-size", kEof}, LimitCase{"lrs-huge-prefix", "ok 136008 bytes"},
        LimitCase{"sound-table-huge-count",
                  "failed to fill whole buffer / failed to fill whole buffer"},
        LimitCase{"cyclic-tree", "Corruption(\"directory node at 0x00000400 is reached twice\")"},
        LimitCase{"deep-tree", "NotFound(1)"}, LimitCase{"huge-file-size-on-demand", kEof},
        LimitCase{
            "cyclic-tree-on-demand",
            "Corruption(\"directory node at 0x00000400 lies deeper than 64 nodes, deeper than any "
            "real tree\")"},
        LimitCase{
            "deep-tree-on-demand",
            "Corruption(\"directory node at 0x00001400 lies deeper than 64 nodes, deeper than any "
            "real tree\")"},
        LimitCase{"zero-capacity-loop",
                  "Corruption(\"block chain at 0x00000400 loops back to block 0x00000400 without "
                  "reaching its end\")"}),
    scenario_name);

// An address-space limit is no limit under the sanitizers, which reserve
// terabytes up front.
#if !BRACKWATER_SANITIZED
INSTANTIATE_TEST_SUITE_P(
    OutOfMemory, ResourceLimits,
    ::testing::Values(LimitCase{"lrs-out-of-memory",
                                "Io(Error { kind: OutOfMemory, message: \"cannot allocate "
                                "106954787 bytes\" })"},
                      LimitCase{"chain-out-of-memory",
                                "Io(Error { kind: OutOfMemory, message: \"cannot allocate "
                                "100663296 bytes\" })"}),
    scenario_name);
#endif

}  // namespace
