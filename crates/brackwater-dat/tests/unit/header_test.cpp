// Opening an archive: its header and the errors of opening.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>
#include <functional>
#include <numeric>

#include "unit/archive_test.hpp"

namespace {

using namespace brackwater_dat;
using namespace brackwater_dat::test_support;

class ArchiveHeader : public ArchiveTest {};

struct HeaderField {
  std::string_view name;
  std::size_t offset;  // from the start of the header
  std::size_t width;
};

constexpr HeaderField kHeaderFields[] = {
    {"magic", 0, 4},          {"block_size", 4, 4},
    {"file_size", 8, 4},      {"dataset", 12, 4},
    {"subset", 16, 4},        {"free_head", 20, 4},
    {"free_tail", 24, 4},     {"free_count", 28, 4},
    {"root_offset", 32, 4},   {"new_lru", 36, 4},
    {"old_lru", 40, 4},       {"use_lru", 44, 4},
    {"master_map_id", 48, 4}, {"engine_version", 52, 4},
    {"game_version", 56, 4},  {"version_string", 60, 16},
    {"version_minor", 76, 4},
};

TEST_F(ArchiveHeader, TruncatedHeaderNamesTheFirstFieldNotHeld) {
  for (const auto& field : kHeaderFields) {
    for (std::size_t cut = field.offset; cut < field.offset + field.width; ++cut) {
      write_bytes(path(), Bytes(0x140 + cut));
      const auto db = DatDatabase::open(path());
      ASSERT_FALSE(db.has_value()) << cut;
      const auto* bin = std::get_if<DatError::BinRead>(&db.error().value);
      ASSERT_NE(bin, nullptr) << debug_text(db.error());
      EXPECT_EQ(bin->error.cause().kind(), IoErrorKind::UnexpectedEof);
      EXPECT_EQ(bin->error.cause().message(),
                field.width == 16 ? "not enough bytes in reader" : "failed to fill whole buffer");
      ASSERT_EQ(bin->error.frames().size(), 1u);
      const ParseFrame& frame = bin->error.frames()[0];
      EXPECT_EQ(frame.message,
                "While parsing field '" + std::string(field.name) + "' in DatHeader");
      EXPECT_EQ(frame.file, "crates/brackwater-dat/src/dat_header_layout.cpp");
      EXPECT_GT(frame.line, 0u);
    }
  }
}

TEST_F(ArchiveHeader, ShortFilesFailOnMagic) {
  for (std::size_t length : {0u, 1u, 0x13Fu}) {
    write_bytes(path(), Bytes(length));
    const auto db = DatDatabase::open(path());
    ASSERT_FALSE(db.has_value());
    EXPECT_THAT(debug_text(db.error()),
                ::testing::StartsWith("BinRead(failed to fill whole buffer\n While parsing field "
                                      "'magic' in DatHeader at "));
  }
}

TEST_F(ArchiveHeader, ExactHeaderWithEmptyDirectoryOpens) {
  write_bytes(path(), Bytes(0x190));
  const auto db = DatDatabase::open(path());
  ASSERT_TRUE(db.has_value()) << debug_text(db.error());
  EXPECT_TRUE(db->directory().empty());
  const auto missing = db->get_file(0x200000A8);
  ASSERT_FALSE(missing.has_value());
  EXPECT_EQ(debug_text(missing.error()), "NotFound(536871080)");
}

TEST_F(ArchiveHeader, HeaderIsKeptAsRead) {
  ArchiveBuilder builder(512);
  DatHeader& h = builder.header();
  h.magic = 0;
  h.file_size = 0xDEADBEEF, h.dataset = 1, h.subset = 2, h.free_head = 3, h.free_tail = 4;
  h.free_count = 5, h.new_lru = 6, h.old_lru = 7, h.use_lru = 8, h.master_map_id = 9;
  h.engine_version = 10, h.game_version = 11, h.version_minor = 0xFFFFFFFF;
  std::iota(h.version_string.begin(), h.version_string.end(), std::uint8_t{0xF0});
  const DatHeader expected = h;
  const DatDatabase db = open_ok(builder);
  EXPECT_EQ(std::memcmp(&db.header(), &expected, sizeof(DatHeader)), 0);
}

TEST_F(ArchiveHeader, MissingFileIsAPathErrorWithThePathAsGiven) {
  const std::filesystem::path missing = "no/such/dir/../client_portal.dat";
  const auto db = DatDatabase::open(missing);
  ASSERT_FALSE(db.has_value());
  const auto* error = std::get_if<DatError::PathError>(&db.error().value);
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->path.native(), missing.native());
  EXPECT_EQ(error->source.kind(), IoErrorKind::NotFound);
#ifdef _WIN32
  EXPECT_EQ(error->source.os_code(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(debug_text(db.error()),
            "PathError { path: \"no/such/dir/../client_portal.dat\", source: " +
                debug_text(IoError::from_windows(ERROR_PATH_NOT_FOUND)) + " }");
#else
  EXPECT_EQ(error->source.os_code(), ENOENT);
  EXPECT_EQ(debug_text(db.error()),
            "PathError { path: \"no/such/dir/../client_portal.dat\", source: Os { code: 2, kind: "
            "NotFound, message: \"No such file or directory\" } }");
#endif
}

// The path is UTF-8 in the API's texts whatever the system's paths are.
TEST_F(ArchiveHeader, ANameOutsideTheAnsiCodePageOpens) {
  const std::filesystem::path name =
      dir_.path() / std::filesystem::path(u8"\u0434\u0430\u0442-\u2603.dat");
  write_bytes(name, ArchiveBuilder(512).image());
  EXPECT_TRUE(DatDatabase::open(name).has_value());
  const auto missing = DatDatabase::open(dir_.path() / std::filesystem::path(u8"\u2603"));
  ASSERT_FALSE(missing.has_value());
  EXPECT_THAT(display_text(missing.error()), ::testing::HasSubstr("\u2603: "));
}

TEST_F(ArchiveHeader, UnreadableFileIsAPathError) {
  write_bytes(path(), Bytes(0x190));
#ifdef _WIN32
  // Held open by another program that shares it with no one.
  const HANDLE holder = ::CreateFileW(path().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  const auto db = DatDatabase::open(path());
  ::CloseHandle(holder);
#else
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
  ::chmod(path().c_str(), 0);
  const auto db = DatDatabase::open(path());
#endif
  ASSERT_FALSE(db.has_value());
  const auto* error = std::get_if<DatError::PathError>(&db.error().value);
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->source.kind(), IoErrorKind::PermissionDenied);
  EXPECT_EQ(error->path.native(), path().native());
}

TEST_F(ArchiveHeader, DirectoryIsAPathError) {
  const auto db = DatDatabase::open(dir_.path());
  ASSERT_FALSE(db.has_value());
  const auto* error = std::get_if<DatError::PathError>(&db.error().value);
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->source.kind(), IoErrorKind::IsADirectory);
}

#ifdef _WIN32
// Another program holding the archive open, even for writing, does not keep
// it from opening, and may rename it while it is read.
TEST_F(ArchiveHeader, AnArchiveOpenElsewhereForWritingOpensAndReads) {
  ArchiveBuilder builder(512);
  const DatFileEntry entry = builder.store_file(0x01000001, Bytes(700, 5), false);
  builder.header().root_offset = builder.store_tree(std::vector{entry});
  builder.write(path());
  const HANDLE writer = ::CreateFileW(path().c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  const auto db = DatDatabase::open(path());
  ::CloseHandle(writer);
  ASSERT_TRUE(db.has_value()) << debug_text(db.error());
  std::filesystem::rename(path(), dir_.path() / "moved.dat");
  EXPECT_EQ(db->get_file(0x01000001).value(), Bytes(700, 5));
}

// A named pipe, Windows' FIFO, cannot be positioned: no archive, and
// opening it does not wait for a writer.
TEST_F(ArchiveHeader, NamedPipeIsAPathError) {
  const std::wstring name = L"\\\\.\\pipe\\" + dir_.path().filename().wstring();
  const HANDLE pipe =
      ::CreateNamedPipeW(name.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE, 1, 0, 0, 0, nullptr);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  const auto db = DatDatabase::open(name);
  ::CloseHandle(pipe);
  ASSERT_FALSE(db.has_value());
  const auto* error = std::get_if<DatError::PathError>(&db.error().value);
  ASSERT_NE(error, nullptr) << debug_text(db.error());
  EXPECT_EQ(error->source.os_code(), ERROR_SEEK_ON_DEVICE);
}

TEST_F(ArchiveHeader, SocketIsAPathError) {
  GTEST_SKIP() << "a Unix-domain socket's name is no file that Windows opens";
}
#else
// Opening must not wait for a writer: were it to, the test would hang until
// ctest's timeout ends it.
TEST_F(ArchiveHeader, FifoWithNoWriterFailsAtOnceAsAPathError) {
  ASSERT_EQ(::mkfifo(path().c_str(), 0600), 0);
  const auto db = DatDatabase::open(path());
  ASSERT_FALSE(db.has_value());
  const auto* error = std::get_if<DatError::PathError>(&db.error().value);
  ASSERT_NE(error, nullptr) << debug_text(db.error());
  EXPECT_EQ(error->path.native(), path().native());
  EXPECT_EQ(error->source.os_code(), ESPIPE);
  EXPECT_EQ(display_text(db.error()),
            "cannot open " + path().string() + ": Illegal seek (os error 29)");
}

TEST_F(ArchiveHeader, SocketIsAPathError) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string name = path().string();
  ASSERT_LT(name.size(), sizeof address.sun_path);
  std::memcpy(address.sun_path, name.c_str(), name.size() + 1);
  ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  const auto db = DatDatabase::open(path());
  ::close(fd);
  ASSERT_FALSE(db.has_value());
  const auto* error = std::get_if<DatError::PathError>(&db.error().value);
  ASSERT_NE(error, nullptr) << debug_text(db.error());
  EXPECT_EQ(error->source.os_code(), ENXIO);
}
#endif

struct HeaderCheck {
  std::string name;
  std::function<void(DatHeader&)> bend;
  std::vector<std::string> problems;
  friend void PrintTo(const HeaderCheck& c, std::ostream* os) { *os << c.name; }
};

class HeaderChecks : public ::testing::TestWithParam<HeaderCheck> {};

// The header of an archive of 0x1000 bytes, right but for what the case bends.
TEST_P(HeaderChecks, NameEachFieldThatDoesNotFitTheArchive) {
  DatHeader header{};
  header.magic = kDatMagic;
  header.block_size = 1024;
  header.file_size = 0x1000;
  GetParam().bend(header);
  EXPECT_EQ(check_header(header, 0x1000), GetParam().problems);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, HeaderChecks,
    ::testing::Values(HeaderCheck{"Sound", [](DatHeader&) {}, {}},
                      HeaderCheck{"RootInside", [](DatHeader& h) { h.root_offset = 0xFFF; }, {}},
                      HeaderCheck{"SmallestBlocks", [](DatHeader& h) { h.block_size = 8; }, {}},
                      HeaderCheck{"OtherMagic",
                                  [](DatHeader& h) { h.magic = 0x5443; },
                                  {"magic is 0x00005443, not 0x00005442"}},
                      HeaderCheck{"BlocksWithoutRoomForPayload",
                                  [](DatHeader& h) { h.block_size = 7; },
                                  {"block size 7 is less than 8"}},
                      HeaderCheck{"Truncated",
                                  [](DatHeader& h) { h.file_size = 0x1001; },
                                  {"file_size says 4097 bytes, the archive has 4096"}},
                      HeaderCheck{"RootPastTheEnd",
                                  [](DatHeader& h) { h.root_offset = 0x1000; },
                                  {"root node 0x00001000 lies past the archive's 4096 bytes"}},
                      HeaderCheck{
                          "Zeros",
                          [](DatHeader& h) { h = DatHeader{}; },
                          {"magic is 0x00000000, not 0x00005442", "block size 0 is less than 8",
                           "file_size says 0 bytes, the archive has 4096"}}),
    [](const auto& info) { return info.param.name; });

}  // namespace
