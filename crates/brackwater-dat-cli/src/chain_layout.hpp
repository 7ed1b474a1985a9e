#pragma once

#include <brackwater_dat/dat_database.hpp>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace brackwater_dat::cli {

// How one file's chain lies among the others'. Every file has blocks of its
// own, so a chain that comes back to one of its blocks, or that meets
// another file's, is damaged or built to make reads repeat themselves.
struct ChainLayout {
  // The block whose link leads back to one the chain has visited, and that one.
  struct Loop {
    std::uint32_t from;
    std::uint32_t to;
  };
  // The first block of the chain that another file's chain visits too, and
  // that other file (by position in the entries).
  struct Shared {
    std::uint32_t block;
    std::size_t other;
  };
  std::optional<Loop> loop;
  std::optional<Shared> shared;
  // Whether the walk stopped at a block walked before, its own or another
  // file's: reading such a file would read those blocks again, as often as
  // its size asks.
  bool stopped = false;

  bool faulty() const noexcept { return loop || shared; }
  // Each fault for people, given the entries that `other` counts in.
  std::string loop_text() const;
  std::string shared_text(const std::vector<DatFileEntry>& entries) const;
};

// The layout of each file's chain, by position in `entries` (sorted by id),
// reading the links of every block of the archive's chains once, in the
// order the chains lie in the archive: linear in
// the blocks, whatever the files do to one another, with memory for each
// block once. A chain that meets another file's blocks is walked no further,
// so a file whose chain shares blocks with several is told of the first. A
// chain whose links cannot be read is laid out up to where they fail;
// reading the file says why.
std::vector<ChainLayout> chain_layouts(const DatDatabase& db,
                                       const std::vector<DatFileEntry>& entries);

}  // namespace brackwater_dat::cli
