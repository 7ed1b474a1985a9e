#include "resolve_sound_parity/tool_protocol.hpp"

#include <gtest/gtest.h>

namespace {

using namespace brackwater_dat::parity;

TEST(ToolProtocol, RequestLines) {
  const std::string first = resolve_request(0x20000001, 0);
  EXPECT_EQ(first,
            R"({"command":"marlstone-resolve-sound","soundTableDid":"0x20000001","sound":0})");
  EXPECT_EQ(first.size(), 76u);
  const std::string last = resolve_request(0x200000A8, 204);
  EXPECT_EQ(last,
            R"({"command":"marlstone-resolve-sound","soundTableDid":"0x200000A8","sound":204})");
  EXPECT_EQ(last.size(), 78u);
  EXPECT_EQ(resolve_request(0x200000A8, 17),
            R"({"command":"marlstone-resolve-sound","soundTableDid":"0x200000A8","sound":17})");
  EXPECT_EQ(
      resolve_request(0xA, 4294967295u),
      R"({"command":"marlstone-resolve-sound","soundTableDid":"0x0000000A","sound":4294967295})");
  EXPECT_EQ(kQuitRequest, R"({"command":"quit"})");
}

struct FieldCase {
  std::string name;
  std::string line;
  std::optional<std::string> value;
  // Named in test listings, rather than dumped as bytes.
  friend void PrintTo(const FieldCase& c, std::ostream* os) { *os << c.name; }
};

class ExtractStringField : public ::testing::TestWithParam<FieldCase> {};

TEST_P(ExtractStringField, WaveDid) {
  EXPECT_EQ(extract_string_field(GetParam().line, "waveDid"), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ExtractStringField,
    ::testing::Values(
        FieldCase{"Plain",
                  R"({"command":"marlstone-resolve-sound","waveDid":"0x0A000262","source":"x"})",
                  "0x0A000262"},
        FieldCase{"SpacesAndTabsAfterColon", "{\"waveDid\": \t \"0x1\"}", "0x1"},
        FieldCase{"UnicodeWhiteSpaceAfterColon",
                  "{\"waveDid\":\xc2\xa0\xe3\x80\x80\xe2\x80\xa8\xc2\x85\"0x2\"}", "0x2"},
        FieldCase{"SpaceBeforeColonIsNotTheKey", R"({"waveDid" :"0x1"})", std::nullopt},
        FieldCase{"Null", R"({"waveDid":null})", std::nullopt},
        FieldCase{"NullablePrefix", R"({"waveDid":nullable})", std::nullopt},
        FieldCase{"Unquoted", R"({"waveDid":12})", std::nullopt},
        FieldCase{"NoClosingQuote", R"({"waveDid":"0x12)", std::nullopt},
        FieldCase{"EmptyValue", R"({"waveDid":""})", ""},
        FieldCase{"EscapedQuoteEndsTheValue", R"({"waveDid":"a\"b"})", "a\\"},
        FieldCase{"NeedleInsideAnEarlierValue",
                  R"({"source":"note "waveDid":"inner" end","waveDid":"outer"})", "inner"},
        FieldCase{"FirstOfTwo", R"({"waveDid":"one","waveDid":"two"})", "one"},
        FieldCase{"Missing", R"({"command":"marlstone-resolve-sound"})", std::nullopt},
        FieldCase{"KeyCaseDiffers", R"({"wavedid":"0x1"})", std::nullopt},
        FieldCase{"NothingAfterColon", R"({"waveDid":)", std::nullopt}),
    [](const auto& info) { return info.param.name; });

TEST(ToolProtocol, EscapedQuotesHideTheNeedle) {
  // Written with backslash-quotes, the key inside a value is not the needle.
  EXPECT_EQ(extract_string_field(R"({"source":"say \"waveDid\":\"x\"","waveDid":"y"})", "waveDid"),
            "y");
}

TEST(ToolProtocol, ResponseFilter) {
  EXPECT_TRUE(is_resolve_response(R"({"command":"marlstone-resolve-sound","waveDid":null})"));
  EXPECT_TRUE(is_resolve_response(R"({"command": "marlstone-resolve-sound"})"));
  EXPECT_FALSE(is_resolve_response(R"({"command":"Marlstone-Resolve-Sound"})"));
  EXPECT_FALSE(is_resolve_response(R"({"command":"marlstone-resolve-sound "})"));
  EXPECT_FALSE(is_resolve_response(R"({"command":"quit"})"));
  EXPECT_FALSE(is_resolve_response("log: marlstone-resolve-sound"));
  EXPECT_FALSE(is_resolve_response(R"({"waveDid":"0x1"})"));
}

struct WaveCase {
  std::optional<std::string> text;
  std::optional<std::uint32_t> wave;
  friend void PrintTo(const WaveCase& c, std::ostream* os) { *os << c.text.value_or("None"); }
};

class ReadWave : public ::testing::TestWithParam<WaveCase> {};

TEST_P(ReadWave, Hex) { EXPECT_EQ(read_wave(GetParam().text), GetParam().wave); }

INSTANTIATE_TEST_SUITE_P(
    Texts, ReadWave,
    ::testing::Values(WaveCase{"0x0A000262", 0x0A000262}, WaveCase{"0X0a000262", 0x0A000262},
                      WaveCase{"0a000262", 0x0A000262}, WaveCase{"+a000262", 0x0A000262},
                      WaveCase{"0x+a000262", 0x0A000262}, WaveCase{"0x00000000", 0},
                      WaveCase{"000000000A000262", 0x0A000262}, WaveCase{"FFFFFFFF", 0xFFFFFFFF},
                      WaveCase{std::nullopt, std::nullopt}, WaveCase{"0x", std::nullopt},
                      WaveCase{"", std::nullopt}, WaveCase{"+", std::nullopt},
                      WaveCase{"0x100000000", std::nullopt}, WaveCase{"-1", std::nullopt},
                      WaveCase{"0x-1", std::nullopt}, WaveCase{" 0x1", std::nullopt},
                      WaveCase{"0x1 ", std::nullopt}, WaveCase{"0x0x1", std::nullopt},
                      WaveCase{"++1", std::nullopt}, WaveCase{"0xg", std::nullopt},
                      WaveCase{"+0x1", std::nullopt}, WaveCase{"0X", std::nullopt}));

}  // namespace
