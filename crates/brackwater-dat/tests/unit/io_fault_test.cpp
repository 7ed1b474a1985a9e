// Interposes preadv for this whole binary, so the reader's positioned reads can
// be interrupted, cut to one byte, or failed at a chosen call.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/uio.h>

#include <algorithm>
#include <atomic>
#include <brackwater_dat/dat_database.hpp>
#include <cerrno>
#include <fstream>
#include <map>
#include <tuple>

#include "support/archive_builder.hpp"
#include "support/dat_matchers.hpp"
#include "support/synthetic_retail.hpp"
#include "support/temp_dir.hpp"

namespace {

enum class Fault { None, Interrupt, OneByte, InterruptAndOneByte, FailAt };

std::atomic<Fault> fault{Fault::None};
std::atomic<long> calls{0};
std::atomic<long> fail_at{0};

using PreadvFunction = ssize_t (*)(int, const iovec*, int, off_t);

PreadvFunction real_preadv() {
  static const auto real = reinterpret_cast<PreadvFunction>(::dlsym(RTLD_NEXT, "preadv"));
  return real;
}

}  // namespace

extern "C" ssize_t preadv(int fd, const iovec* iov, int count, off_t offset) {
  const long call = ++calls;
  const Fault mode = fault.load();
  const bool interrupt = mode == Fault::Interrupt || mode == Fault::InterruptAndOneByte;
  if (interrupt && call % 2 == 1) {
    errno = EINTR;
    return -1;
  }
  if (mode == Fault::FailAt && call == fail_at.load()) {
    errno = EIO;
    return -1;
  }
  if (mode == Fault::OneByte || mode == Fault::InterruptAndOneByte) {
    for (int i = 0; i < count; ++i) {
      if (iov[i].iov_len == 0) continue;
      const iovec one{iov[i].iov_base, 1};
      return real_preadv()(fd, &one, 1, offset);
    }
  }
  return real_preadv()(fd, iov, count, offset);
}

namespace {

using namespace brackwater_dat;
using test_support::ArchiveBuilder;

struct Snapshot {
  std::map<std::uint32_t, Bytes> files;
  std::optional<DatError> open_error;
  std::vector<DatError> file_errors;
};

class IoFaults : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ArchiveBuilder builder(256);
    std::vector<DatFileEntry> entries;
    for (std::uint32_t i = 0; i < 40; ++i) {
      Bytes contents(i * 41 % 900);
      for (std::size_t k = 0; k < contents.size(); ++k)
        contents[k] = static_cast<std::uint8_t>(k * i / 3);
      entries.push_back(builder.store_file(
          0x0A000000 + i, contents, i % 2 == 0,
          i % 3 ? test_support::ChainLayout::Scattered : test_support::ChainLayout::Contiguous));
    }
    builder.header().root_offset = builder.store_tree(entries, 5);
    dir_ = new test_support::TempDir;
    builder.write(archive());
  }
  static void TearDownTestSuite() { delete dir_; }
  void TearDown() override { fault = Fault::None; }

  static std::filesystem::path archive() { return *dir_ / "faults.dat"; }

  static Snapshot read_everything() {
    Snapshot snapshot;
    auto db = DatDatabase::open(archive());
    if (!db) {
      snapshot.open_error = db.error();
      return snapshot;
    }
    for (const auto& [id, entry] : db->directory()) {
      if (auto file = db->get_file(id)) {
        snapshot.files[id] = std::move(*file);
      } else {
        snapshot.file_errors.push_back(file.error());
      }
    }
    return snapshot;
  }

  static Snapshot clean() {
    fault = Fault::None;
    return read_everything();
  }

  static test_support::TempDir* dir_;
};

test_support::TempDir* IoFaults::dir_ = nullptr;

TEST_F(IoFaults, InterruptedAndShortReadsGiveTheSameBytes) {
  const Snapshot expected = clean();
  ASSERT_FALSE(expected.open_error.has_value());
  ASSERT_EQ(expected.files.size(), 40u);
  for (Fault mode : {Fault::Interrupt, Fault::OneByte, Fault::InterruptAndOneByte}) {
    fault = mode;
    const Snapshot got = read_everything();
    fault = Fault::None;
    ASSERT_FALSE(got.open_error.has_value()) << debug_text(*got.open_error);
    EXPECT_TRUE(got.file_errors.empty());
    EXPECT_EQ(got.files, expected.files) << static_cast<int>(mode);
  }
}

TEST_F(IoFaults, AFailedReadAnywhereSurfacesAsThatError) {
  const Snapshot expected = clean();
  calls = 0;
  fault = Fault::None;
  read_everything();
  const long total = calls.load();
  ASSERT_GT(total, 40);
  for (long n = 1; n <= total; ++n) {
    calls = 0;
    fail_at = n;
    fault = Fault::FailAt;
    const Snapshot got = read_everything();
    fault = Fault::None;
    std::vector<DatError> errors = got.file_errors;
    if (got.open_error) errors.push_back(*got.open_error);
    ASSERT_EQ(errors.size(), 1u) << "read " << n;
    const auto cause = test_support::io_cause(errors[0]);
    ASSERT_TRUE(cause.has_value()) << debug_text(errors[0]);
    EXPECT_EQ(cause->os_code(), EIO) << debug_text(errors[0]);
    // Whatever was read apart from the failed call is exactly right.
    for (const auto& [id, bytes] : got.files) EXPECT_EQ(bytes, expected.files.at(id)) << id;
  }
}

TEST_F(IoFaults, EachBlockCostsOneRead) {
  ArchiveBuilder builder(1024);
  Bytes payload(2500, 0x5A);
  const std::uint32_t small = builder.store_chain(Bytes(1020, 1));
  builder.put_u32(small, 0x7FFFFFF0);  // never followed: the first block holds it all
  const std::uint32_t scattered =
      builder.store_chain(payload, test_support::ChainLayout::Scattered);
  builder.write(*dir_ / "reads.dat");
  const auto db = DatDatabase::open(*dir_ / "reads.dat");
  ASSERT_TRUE(db.has_value());
  for (auto [first, size, reads] :
       {std::tuple{small, 1020u, 1L}, std::tuple{scattered, 2500u, 3L},
        std::tuple{scattered, 1021u, 2L}, std::tuple{0xFFFFFF00u, 0u, 0L}}) {
    calls = 0;
    ASSERT_TRUE(db->read_file_data(first, size).has_value());
    EXPECT_EQ(calls.load(), reads) << size;
  }
}

TEST_F(IoFaults, SyntheticRetailArchiveReadsTheSameUnderFaults) {
  const auto retail = test_support::build_synthetic_retail(test_support::RetailVariant::Good);
  const auto path = *dir_ / "retail.dat";
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(retail.image.data()),
             static_cast<std::streamsize>(retail.image.size()));
  auto read_retail = [&] {
    std::map<std::uint32_t, Bytes> files;
    const auto db = DatDatabase::open(path);
    EXPECT_TRUE(db.has_value());
    if (!db) return files;
    for (const auto& [id, entry] : db->directory()) files[id] = db->get_file(id).value();
    return files;
  };
  const auto expected = read_retail();
  ASSERT_GT(expected.size(), 300u);
  for (Fault mode : {Fault::InterruptAndOneByte, Fault::Interrupt}) {
    fault = mode;
    const auto got = read_retail();
    fault = Fault::None;
    EXPECT_EQ(got, expected) << static_cast<int>(mode);
  }
}

}  // namespace
