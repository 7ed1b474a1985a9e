#include "resolve_sound_parity/client_source_rule.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

using brackwater_dat::parity::verify_resolve_sound_first;

constexpr std::string_view kNeedle = "pub fn resolve_sound_first";
constexpr std::string_view kConformingBody =
    "(&self, sound_enum: u32) -> u32 {\n"
    "    let Some(entries) = self.sounds.get(&sound_enum) else { return 0; };\n"
    "    entries.first().map_or(0, |e| e.wave_did)\n"
    "}\n";

const std::string kReadMessage =
    "resolveSoundFirst must read `self.sounds.get(&sound_enum)` — body:\n";
const std::string kFirstMessage = "resolveSoundFirst must call `.first()` — body:\n";
const std::string kWaveMessage = "resolveSoundFirst must return `wave_did` — body:\n";

std::string conforming() { return std::string(kNeedle) + std::string(kConformingBody); }

// `text` padded with filler so that it is exactly `length` bytes long.
std::string padded(std::string text, std::size_t length) {
  text.resize(length, ' ');
  return text;
}

struct Case {
  std::string name;
  std::string text;
  std::string expected_error;  // empty: the text conforms
  // Named in test listings, rather than dumped as bytes.
  friend void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }
};

class ClientSourceRule : public ::testing::TestWithParam<Case> {};

TEST_P(ClientSourceRule, Verdict) {
  const auto verdict = verify_resolve_sound_first(GetParam().text);
  if (GetParam().expected_error.empty()) {
    EXPECT_TRUE(verdict.has_value()) << verdict.error();
  } else {
    ASSERT_FALSE(verdict.has_value());
    EXPECT_EQ(verdict.error(), GetParam().expected_error);
  }
}

std::vector<Case> cases() {
  std::vector<Case> c;
  c.push_back({"Conforming", "// binding\n" + conforming() + "\n// next item\n", ""});
  c.push_back({"NeedleAbsent", "fn resolve_sound_first() {}",
               "`resolve_sound_first` must exist in apps/brackwater-web/src/lib"});
  c.push_back({"NeedleCaseDiffers", "pub fn Resolve_sound_first" + std::string(kConformingBody),
               "`resolve_sound_first` must exist in apps/brackwater-web/src/lib"});
  c.push_back({"EmptyText", "", "`resolve_sound_first` must exist in apps/brackwater-web/src/lib"});

  // Only the first of several definitions is inspected.
  const std::string stub = std::string(kNeedle) + "() -> u32 { 0 }\n";
  const std::string first_window = padded(stub, 600);
  c.push_back({"FirstOfSeveralMatches", first_window + conforming(), kReadMessage + first_window});

  // Near the end the window is what is left of the text.
  const std::string tail = std::string(kNeedle) + " { self.sounds.get(&sound_enum) }";
  c.push_back({"ShortWindowAtEnd", std::string(1000, 'x') + tail, kFirstMessage + tail});

  // A substring must lie wholly inside the 600 bytes.
  const std::string head =
      padded(std::string(kNeedle) + " self.sounds.get(&sound_enum) .first() ", 596);
  c.push_back({"StraddlesWindowEnd", head + "wave_did", kWaveMessage + head + "wave"});
  c.push_back({"EndsOnWindowEdge", padded(head, 592) + "wave_did", ""});

  const std::string bare = padded(std::string(kNeedle) + " { .first() wave_did }", 600);
  c.push_back({"OnlyBeforeMatch", "self.sounds.get(&sound_enum)\n" + bare, kReadMessage + bare});
  c.push_back({"OnlyAfterWindow", bare + "self.sounds.get(&sound_enum)", kReadMessage + bare});

  const std::string empty_body = std::string(kNeedle) + "() {}";
  c.push_back({"AllMissingReportsTheFirst", empty_body, kReadMessage + empty_body});
  const std::string no_wave = std::string(kNeedle) + " self.sounds.get(&sound_enum).first()";
  c.push_back({"WaveMissing", no_wave, kWaveMessage + no_wave});

  // The needle is plain bytes: a longer name that begins with it matches too.
  const std::string longer = "pub fn resolve_sound_first_weighted" + std::string(kConformingBody);
  c.push_back({"LongerNameMatches", longer, ""});

  // A two-byte character whose second byte is byte 600 of the window.
  const std::string before = padded(conforming(), 599);
  c.push_back({"WindowEndSplitsCharacter", "ab" + before + "é" + "tail",
               "byte index 602 is not a character boundary; it is inside the character at bytes "
               "601..603 of apps/brackwater-web/src/lib"});
  c.push_back({"WindowEndBeforeCharacter", padded(conforming(), 600) + "é", ""});
  c.push_back({"CharacterEndsAtWindowEnd", padded(conforming(), 598) + "é" + "é", ""});
  return c;
}

INSTANTIATE_TEST_SUITE_P(Texts, ClientSourceRule, ::testing::ValuesIn(cases()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
