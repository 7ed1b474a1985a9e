#include "resolve_sound_parity/format.hpp"

#include <gtest/gtest.h>

namespace {

using namespace brackwater_dat::parity;

TEST(Format, HexPadsToAtLeastTheDigits) {
  EXPECT_EQ(hex(5, 2), "05");
  EXPECT_EQ(hex(204, 2), "CC");
  EXPECT_EQ(hex(0x158, 2), "158");
  EXPECT_EQ(hex(0xFFFFFFFF, 2), "FFFFFFFF");
  EXPECT_EQ(hex(0x200000A8, 8), "200000A8");
  EXPECT_EQ(hex(0xA, 8), "0000000A");
}

TEST(Format, DebugWave) {
  EXPECT_EQ(debug_wave(0x0A000262), "Some(167772770)");
  EXPECT_EQ(debug_wave(0), "Some(0)");
  EXPECT_EQ(debug_wave(std::nullopt), "None");
}

TEST(Format, EqualityFailure) {
  EXPECT_EQ(equality_failure("message", "1", "2"),
            "assertion `left == right` failed: message\n  left: 1\n right: 2");
}

}  // namespace
