#include "runner/options.hpp"

#include <gtest/gtest.h>

namespace {

using brackwater_dat::runner::Options;
using brackwater_dat::runner::parse_options;

Options parsed(std::vector<std::string_view> args) {
  auto options = parse_options(args);
  EXPECT_TRUE(options.has_value()) << options.error();
  return options.value_or(Options{});
}

TEST(Options, PositionalArgumentsAreFilters) {
  const auto options = parsed({"pinned", "js_", "-"});
  EXPECT_EQ(options.filters, (std::vector<std::string>{"pinned", "js_", "-"}));
  EXPECT_FALSE(options.test_threads.has_value());
}

TEST(Options, ValuedOptionsTakeBothSpellings) {
  const auto options = parsed({"--skip", "a", "--skip=b", "--test-threads=3", "--skip", "--exact"});
  EXPECT_EQ(options.skips, (std::vector<std::string>{"a", "b", "--exact"}));
  EXPECT_EQ(options.test_threads, 3u);
  EXPECT_FALSE(options.exact);
}

TEST(Options, DoubleDashEndsOptions) {
  const auto options = parsed({"a", "--", "--exact", "b"});
  EXPECT_EQ(options.filters, (std::vector<std::string>{"a", "--exact", "b"}));
  EXPECT_FALSE(options.exact);
}

TEST(Options, LaterThreadCountWins) {
  EXPECT_EQ(parsed({"--test-threads", "4", "--test-threads", "1"}).test_threads, 1u);
}

TEST(Options, FlagsAreRecognized) {
  const auto options = parsed({"--exact", "--nocapture", "--show-output", "--list", "--help"});
  EXPECT_TRUE(options.exact && options.nocapture && options.show_output && options.list &&
              options.help);
}

TEST(Options, LookalikesAreRefused) {
  for (std::string_view arg : {"--skipper", "--test-threads4", "--EXACT", "-x"}) {
    EXPECT_FALSE(parse_options(std::vector{arg}).has_value()) << arg;
  }
}

}  // namespace
