// The archive file source's own promise: interrupted reads are retried and
// short ones continued. Interposes preadv for this whole binary, so that the
// reader's positioned reads can be interrupted or cut to one byte.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/uio.h>

#include <algorithm>
#include <atomic>
#include <brackwater_dat/dat_database.hpp>
#include <cerrno>
#include <fstream>
#include <tuple>

#include "support/archive_builder.hpp"
#include "support/read_every_file.hpp"
#include "support/temp_dir.hpp"

namespace {

enum class Fault { None, Interrupt, OneByte, InterruptAndOneByte };

std::atomic<Fault> fault{Fault::None};
std::atomic<long> calls{0};

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

class FileSourceFaults : public ::testing::Test {
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

  static test_support::ArchiveOutcome read_everything() {
    return test_support::read_every_file(DatDatabase::open(archive()));
  }

  static test_support::TempDir* dir_;
};

test_support::TempDir* FileSourceFaults::dir_ = nullptr;

TEST_F(FileSourceFaults, InterruptedAndShortReadsGiveTheSameBytes) {
  const auto expected = read_everything();
  ASSERT_FALSE(expected.open_error.has_value());
  ASSERT_EQ(expected.files.size(), 40u);
  for (Fault mode : {Fault::Interrupt, Fault::OneByte, Fault::InterruptAndOneByte}) {
    fault = mode;
    const auto got = read_everything();
    fault = Fault::None;
    ASSERT_FALSE(got.open_error.has_value()) << *got.open_error;
    EXPECT_TRUE(got.file_errors.empty());
    EXPECT_EQ(got.files, expected.files) << static_cast<int>(mode);
  }
}

TEST_F(FileSourceFaults, EachBlockCostsOneRead) {
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

}  // namespace
