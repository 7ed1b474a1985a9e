#include "resolve_sound_parity/unicode.hpp"

#include <gtest/gtest.h>

namespace {

using namespace brackwater_dat::parity::unicode;

TEST(Unicode, LossyReplacesEachMaximalIllFormedPart) {
  EXPECT_EQ(lossy("plain ✓"), "plain ✓");
  EXPECT_EQ(lossy("a\xff"
                  "b"),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(lossy("\xe2\x80"
                  "A"),
            "\xEF\xBF\xBD"
            "A");                                    // a cut three-byte sequence: one
  EXPECT_EQ(lossy("\xf0\x9f\x98"), "\xEF\xBF\xBD");  // cut at the end: one
  EXPECT_EQ(lossy("\xed\xa0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // a surrogate: three
  EXPECT_EQ(lossy("\xc0\xaf"), "\xEF\xBF\xBD\xEF\xBF\xBD");                  // overlong: two
}

TEST(Unicode, TrimUsesWhiteSpace) {
  EXPECT_EQ(trim(" \t\r\n\v\f x y \xc2\xa0\xe3\x80\x80"), "x y");
  EXPECT_EQ(trim("\xe2\x80\x8b"
                 "x"),
            "\xe2\x80\x8b"
            "x");  // zero width space is not White_Space
  EXPECT_EQ(trim("   "), "");
  EXPECT_EQ(trim_start("  x  "), "x  ");
}

TEST(Unicode, WhiteSpaceProperty) {
  for (char32_t c : {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20, 0x85, 0xA0, 0x1680, 0x2000, 0x200A, 0x2028,
                     0x2029, 0x202F, 0x205F, 0x3000}) {
    EXPECT_TRUE(is_white_space(c)) << static_cast<unsigned>(c);
  }
  for (char32_t c : {0x08, 0x0E, 0x1F, 0x21, 0x180E, 0x200B, 0xFEFF}) {
    EXPECT_FALSE(is_white_space(c)) << static_cast<unsigned>(c);
  }
}

}  // namespace
