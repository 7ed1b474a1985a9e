#pragma once

#include <cstdint>
#include <filesystem>

#include "brackwater_dat/bytes.hpp"
#include "brackwater_dat/dat_file_entry.hpp"
#include "brackwater_dat/dat_header.hpp"
#include "brackwater_dat/directory.hpp"
#include "brackwater_dat/error.hpp"

namespace brackwater_dat {

// An open archive with its whole directory in memory. It never changes after
// open() returns and reads only at named offsets, so any number of threads may
// read from one database at once.
class DatDatabase {
 public:
  // Opens the archive read-only, reads its header and loads the directory.
  static Result<DatDatabase> open(const std::filesystem::path& path);

  DatDatabase(DatDatabase&& other) noexcept;
  DatDatabase& operator=(DatDatabase&& other) noexcept;
  DatDatabase(const DatDatabase&) = delete;
  DatDatabase& operator=(const DatDatabase&) = delete;
  ~DatDatabase();

  const DatHeader& header() const noexcept { return header_; }
  const Directory& directory() const noexcept { return directory_; }

  // Exactly `size` payload bytes of the block chain that starts at `first_block`.
  Result<Bytes> read_file_data(std::uint32_t first_block, std::uint32_t size) const;

  // The file's contents, decompressed when its entry says so.
  Result<Bytes> get_file(std::uint32_t id) const;

 private:
  DatDatabase(int fd, std::uint64_t file_length, const DatHeader& header) noexcept;

  Result<void> read_directory();
  Result<void> read_node(std::uint32_t node_offset);
  Result<void> read_chain(std::uint32_t first_block, std::uint32_t size, Bytes& out) const;

  int fd_ = -1;
  std::uint64_t file_length_ = 0;  // when opened; bounds what a chain can deliver
  DatHeader header_{};
  Directory directory_;
};

}  // namespace brackwater_dat
