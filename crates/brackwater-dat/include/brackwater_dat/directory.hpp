#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "brackwater_dat/dat_file_entry.hpp"

namespace brackwater_dat {

// File id to entry: an archive's whole directory. Entries lie back to back in
// the order first seen (a later entry with the same id replaces the earlier
// in place), found through an open-addressed index whose slots hold each
// id beside its position: a probe compares ids without touching the
// entries, so a lookup touches two cache lines.
//
// Offers find, contains, count, size, empty and iteration over (id, entry)
// pairs, with std::unordered_map's meaning.
class Directory {
 public:
  using value_type = std::pair<std::uint32_t, DatFileEntry>;
  using const_iterator = std::vector<value_type>::const_iterator;
  using iterator = const_iterator;

  const_iterator begin() const noexcept { return entries_.begin(); }
  const_iterator end() const noexcept { return entries_.end(); }
  std::size_t size() const noexcept { return entries_.size(); }
  bool empty() const noexcept { return entries_.empty(); }

  const_iterator find(std::uint32_t id) const noexcept;
  bool contains(std::uint32_t id) const noexcept { return find(id) != end(); }
  std::size_t count(std::uint32_t id) const noexcept { return contains(id) ? 1 : 0; }

  // Adds the entry under `id`, or replaces the one already there.
  void insert_or_assign(std::uint32_t id, const DatFileEntry& entry);

  // Makes room for `count` entries, so that inserting them grows nothing.
  void reserve(std::size_t count);
  // Adds every entry under its id, in order, as insert_or_assign would one by
  // one, fetching each entry's slot a few entries ahead of its insert.
  void insert_all(std::span<const DatFileEntry> entries);

 private:
  static constexpr std::uint32_t kEmpty = 0xFFFFFFFF;
  struct Slot {
    std::uint32_t id;
    std::uint32_t at;  // position in entries_, or kEmpty
  };

  std::size_t slot_of(std::uint32_t id) const noexcept;
  void rehash(std::size_t slots);

  std::vector<value_type> entries_;
  std::vector<Slot> index_;
  unsigned shift_ = 32;  // 32 - log2(index_.size())
};

// Deeper than any real tree: a B-tree of 32-bit ids with at least two
// children to each inner node is at most 33 nodes deep, and one whose nodes
// are half full, 7.
inline constexpr std::uint32_t kMaxDirectoryDepth = 64;

// A node of the directory where it is not a search tree, and what is wrong.
struct DirectoryOrderProblem {
  std::uint32_t node;  // the node's offset
  std::string detail;
};

}  // namespace brackwater_dat
