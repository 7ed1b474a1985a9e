#include <gtest/gtest.h>

#include <brackwater_dat/dat_file_entry.hpp>
#include <brackwater_dat/error.hpp>
#include <cerrno>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

using namespace brackwater_dat;

IoError eof() { return IoError::simple(IoErrorKind::UnexpectedEof, "failed to fill whole buffer"); }

struct DebugCase {
  std::string name;
  DatError error;
  std::string text;
  // Named in test listings, rather than dumped as bytes.
  friend void PrintTo(const DebugCase& c, std::ostream* os) { *os << c.name; }
};

class DatErrorDebug : public ::testing::TestWithParam<DebugCase> {};

TEST_P(DatErrorDebug, Text) { EXPECT_EQ(debug_text(GetParam().error), GetParam().text); }

// The code every surface maps is the variant the debug text names, one for each.
TEST_P(DatErrorDebug, CodeNamesTheVariant) {
  const std::string name = error_code_name(error_code(GetParam().error));
  EXPECT_TRUE(GetParam().text.starts_with(name + "(") || GetParam().text.starts_with(name + " {"))
      << name;
}

INSTANTIATE_TEST_SUITE_P(
    Variants, DatErrorDebug,
    ::testing::Values(
        DebugCase{"NotFound", {DatError::NotFound{0x200000A8}}, "NotFound(536871080)"},
        DebugCase{"Io",
                  {DatError::Io{eof()}},
                  "Io(Error { kind: UnexpectedEof, message: \"failed to fill whole buffer\" })"},
        DebugCase{"IoFromOs",
                  {DatError::Io{IoError::from_os(ENOENT)}},
                  "Io(Os { code: 2, kind: NotFound, message: \"No such file or directory\" })"},
        DebugCase{"BinReadBare",
                  {DatError::BinRead{ParseError(eof())}},
                  "BinRead(failed to fill whole buffer)"},
        DebugCase{"BinReadWithFrame",
                  {DatError::BinRead{ParseError(eof(), {{"While parsing field 'magic' in DatHeader",
                                                         "src/x.cpp", 12}})}},
                  "BinRead(failed to fill whole buffer\n"
                  " While parsing field 'magic' in DatHeader at src/x.cpp:12)"},
        DebugCase{"DuplicateId", {DatError::DuplicateId{7}}, "DuplicateId(7)"},
        DebugCase{"DuplicateNamespacedId",
                  {DatError::DuplicateNamespacedId{"ns", 7}},
                  "DuplicateNamespacedId { namespace: \"ns\", file_id: 7 }"},
        DebugCase{"InvalidMagic", {DatError::InvalidMagic{"x"}}, "InvalidMagic(\"x\")"},
        DebugCase{"UnsupportedVersion",
                  {DatError::UnsupportedVersion{4294967295u}},
                  "UnsupportedVersion(4294967295)"},
        DebugCase{"InvalidNamespace", {DatError::InvalidNamespace{""}}, "InvalidNamespace(\"\")"},
        DebugCase{"CorruptionEscapes",
                  {DatError::Corruption{"a\"b\\c\td\re\nf"}},
                  "Corruption(\"a\\\"b\\\\c\\td\\re\\nf\")"},
        DebugCase{
            "DecompressionFailed", {DatError::DecompressionFailed{3}}, "DecompressionFailed(3)"},
        DebugCase{"PathError",
                  {DatError::PathError{"dir/the \"dat\"", IoError::from_os(EACCES)}},
                  "PathError { path: \"dir/the \\\"dat\\\"\", source: Os { code: 13, kind: "
                  "PermissionDenied, message: \"Permission denied\" } }"},
        DebugCase{"Other", {DatError::Other{"é✓"}}, "Other(\"é✓\")"}),
    [](const auto& info) { return info.param.name; });

TEST(DebugText, EscapesWhatCannotBePrinted) {
  using namespace std::string_literals;
  EXPECT_EQ(debug_text("nul\0bell\x07 del\x7f"s), "\"nul\\0bell\\u{7} del\\u{7f}\"");
  EXPECT_EQ(debug_text("\xc2\x85 \xe2\x80\xa8 \xef\xbb\xbf"), "\"\\u{85} \\u{2028} \\u{feff}\"");
  EXPECT_EQ(debug_text("bad \xff\xc3 end"), "\"bad \\xff\\xc3 end\"");
  EXPECT_EQ(debug_text("\xed\xa0\x80"), "\"\\xed\\xa0\\x80\"");  // a surrogate is not UTF-8
  EXPECT_EQ(debug_text("ÿ — ✓ 𝄞"), "\"ÿ — ✓ 𝄞\"");
}

TEST(IoErrorText, OsErrorsNameTheirCode) {
  const IoError error = IoError::from_os(ENOENT);
  EXPECT_EQ(error.kind(), IoErrorKind::NotFound);
  EXPECT_EQ(error.os_code(), ENOENT);
  EXPECT_EQ(display_text(error), "No such file or directory (os error 2)");
  EXPECT_EQ(IoError::from_os(EISDIR).kind(), IoErrorKind::IsADirectory);
  EXPECT_EQ(IoError::from_os(EINTR).kind(), IoErrorKind::Interrupted);
  EXPECT_EQ(IoError::from_os(EIO).kind(), IoErrorKind::Other);
}

#ifdef _WIN32
// A Windows code keeps the texts' shape, with the system's own message.
TEST(IoErrorText, WindowsErrorsNameTheirCodeAndKind) {
  for (const auto& [code, kind] : {std::pair{ERROR_FILE_NOT_FOUND, IoErrorKind::NotFound},
                                   {ERROR_PATH_NOT_FOUND, IoErrorKind::NotFound},
                                   {ERROR_ACCESS_DENIED, IoErrorKind::PermissionDenied},
                                   {ERROR_SHARING_VIOLATION, IoErrorKind::PermissionDenied},
                                   {ERROR_NOT_ENOUGH_MEMORY, IoErrorKind::OutOfMemory},
                                   {ERROR_OPERATION_ABORTED, IoErrorKind::Interrupted},
                                   {ERROR_SEEK_ON_DEVICE, IoErrorKind::Other}}) {
    const IoError error = IoError::from_windows(code);
    EXPECT_EQ(error.kind(), kind) << code;
    EXPECT_EQ(error.os_code(), static_cast<int>(code));
    EXPECT_FALSE(error.message().empty()) << code;
    EXPECT_EQ(error.message().find_first_of("\r\n"), std::string::npos) << error.message();
    EXPECT_EQ(display_text(error), error.message() + " (os error " + std::to_string(code) + ")");
    EXPECT_TRUE(debug_text(error).starts_with("Os { code: " + std::to_string(code) + ", kind: "))
        << debug_text(error);
  }
}

// Windows' paths are UTF-16, shown in UTF-8; a surrogate without its pair as U+FFFD.
TEST(IoErrorText, WindowsPathsShowInUtf8) {
  const std::wstring name{L'a', static_cast<wchar_t>(0xD800), L'\u00E9', L'\u2603'};
  const DatError error{DatError::PathError{name, IoError::from_windows(ERROR_FILE_NOT_FOUND)}};
  EXPECT_TRUE(display_text(error).starts_with("cannot open a\xEF\xBF\xBD\xC3\xA9\xE2\x98\x83: "))
      << display_text(error);
}
#endif

TEST(IoErrorText, SimpleErrorsAreTheirMessage) {
  EXPECT_EQ(display_text(eof()), "failed to fill whole buffer");
  EXPECT_FALSE(eof().os_code().has_value());
}

TEST(ParseErrorText, BareErrorIsItsCauseMessage) {
  const ParseError error(eof());
  EXPECT_EQ(debug_text(error), "failed to fill whole buffer");
  EXPECT_EQ(display_text(error), "failed to fill whole buffer");
}

TEST(ParseErrorText, FramedErrorIsOneLineForPeopleAndListsItsFramesForDebugging) {
  const ParseError error(eof(), {{"While parsing field 'magic' in DatHeader", "src/x.cpp", 12}});
  EXPECT_EQ(display_text(error),
            "failed to fill whole buffer while parsing field 'magic' in DatHeader");
  EXPECT_EQ(
      debug_text(error),
      "failed to fill whole buffer\n While parsing field 'magic' in DatHeader at src/x.cpp:12");
}

class DatErrorDisplay : public ::testing::TestWithParam<DebugCase> {};

TEST_P(DatErrorDisplay, IsOneLineForPeople) {
  EXPECT_EQ(display_text(GetParam().error), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Variants, DatErrorDisplay,
    ::testing::Values(
        DebugCase{"NotFoundNamesTheIdInHex",
                  {DatError::NotFound{0x200000A8}},
                  "no file 0x200000A8 in the archive"},
        DebugCase{
            "IoIsTheMessage", {DatError::Io{eof()}}, "read failed: failed to fill whole buffer"},
        DebugCase{"IoFromOsKeepsTheCode",
                  {DatError::Io{IoError::from_os(EIO)}},
                  "read failed: Input/output error (os error 5)"},
        DebugCase{"BinReadNamesTheFieldWithoutSourceLocation",
                  {DatError::BinRead{ParseError(eof(), {{"While parsing field 'magic' in DatHeader",
                                                         "src/x.cpp", 12}})}},
                  "failed to fill whole buffer while parsing field 'magic' in DatHeader"},
        DebugCase{"DuplicateNamespacedId",
                  {DatError::DuplicateNamespacedId{"sounds", 0x0A000001}},
                  "duplicate file id 0x0A000001 in namespace \"sounds\""},
        DebugCase{"PathErrorBreaksNoLine",
                  {DatError::PathError{"dir/a\nb.dat", IoError::from_os(ENOENT)}},
                  "cannot open dir/a\\nb.dat: No such file or directory (os error 2)"},
        DebugCase{"Corruption",
                  {DatError::Corruption{"directory node at 0x00000400 is reached twice"}},
                  "corrupt archive: directory node at 0x00000400 is reached twice"},
        DebugCase{"OtherControlsEscaped", {DatError::Other{"a\tb\x01"}}, "a\\tb\\x01"}),
    [](const auto& info) { return info.param.name; });

TEST(FileEntryHelpers, CompressionIsBitZeroAndTypeTheHighByte) {
  for (const auto& [flags, compressed] :
       {std::pair{0u, false}, {1u, true}, {2u, false}, {3u, true}, {0xFFFFFFFEu, false}}) {
    EXPECT_EQ(is_compressed(DatFileEntry{flags, 0, 0, 0, 0, 0}), compressed) << flags;
  }
  static_assert(file_type_of(0x0A000262) == 0x0A);
  EXPECT_EQ(file_type_of(0x20000001), 0x20);
  EXPECT_EQ(file_type_of(0xFF000000), 0xFF);
  EXPECT_EQ(file_type_of(0x00FFFFFF), 0x00);
}

}  // namespace
