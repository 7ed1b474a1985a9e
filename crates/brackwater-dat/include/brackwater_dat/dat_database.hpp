#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include "brackwater_dat/bytes.hpp"
#include "brackwater_dat/dat_file_entry.hpp"
#include "brackwater_dat/dat_header.hpp"
#include "brackwater_dat/directory.hpp"
#include "brackwater_dat/error.hpp"
#include "brackwater_dat/source.hpp"

namespace brackwater_dat {

class RunHint;

// An open archive with its whole directory in memory. What it answers never
// changes after it is opened (it keeps only a hint of how its chains lie) and
// it reads only at named offsets, so any number of threads may read from one
// database at once.
class DatDatabase {
 public:
  // Opens the archive file read-only, reads its header and loads the directory.
  static Result<DatDatabase> open(const std::filesystem::path& path);
  // The same over an archive held in memory; the database owns the bytes.
  static Result<DatDatabase> open_memory(Bytes bytes);
  // The same over any source; an error the source returns surfaces as Io.
  static Result<DatDatabase> open_source(std::unique_ptr<Source> source);

  DatDatabase(DatDatabase&&) noexcept;
  DatDatabase& operator=(DatDatabase&&) noexcept;
  ~DatDatabase();

  const DatHeader& header() const noexcept { return header_; }
  const Directory& directory() const noexcept { return directory_; }

  // Exactly `size` payload bytes of the block chain that starts at `first_block`.
  Result<Bytes> read_file_data(std::uint32_t first_block, std::uint32_t size) const;

  // The file's contents, decompressed when its entry says so.
  Result<Bytes> get_file(std::uint32_t id) const;

  // The blocks a read of `size` bytes from `first_block` visits, in order, with
  // the bytes each contributes; the last block's share runs on past its end
  // when the chain ends early. Reads only the links. For checkers that look
  // at how files lie in the archive.
  struct ChainBlock {
    std::uint32_t offset;
    std::uint32_t bytes;
  };
  Result<std::vector<ChainBlock>> chain_blocks(std::uint32_t first_block, std::uint32_t size) const;

 private:
  DatDatabase(std::unique_ptr<const Source> source, std::uint64_t length, const DatHeader& header,
              Directory directory, std::unique_ptr<RunHint> run_hint) noexcept;

  std::unique_ptr<const Source> source_;
  std::uint64_t length_ = 0;  // when opened; bounds what a chain can deliver
  DatHeader header_{};
  Directory directory_;
  std::unique_ptr<RunHint> run_hint_;  // how the last chain read began
};

}  // namespace brackwater_dat
