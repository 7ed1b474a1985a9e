#include "brackwater_dat/directory.hpp"

#include <bit>
#include <chrono>
#include <cstdint>

namespace brackwater_dat {
namespace {

constexpr std::size_t kFirstIndexSize = 64;

// An odd multiplier drawn once per process. With a fixed one an archive could
// list ids chosen to share one stretch of the index, and each insert would
// probe past all the others: an open quadratic in the entry count. The clock
// differs from run to run, and where addresses are randomised so do the
// stack's and the code's. The system clock's now() cannot throw.
std::uint32_t draw_multiplier() noexcept {
  int local = 0;
  const auto now = std::chrono::system_clock::now().time_since_epoch().count();
  std::uint64_t mixed = reinterpret_cast<std::uintptr_t>(&local) ^
                        reinterpret_cast<std::uintptr_t>(&draw_multiplier) ^
                        static_cast<std::uint64_t>(now) * 1'000'000'007u;
  // splitmix64's finaliser, so every input bit reaches the top bits.
  mixed = (mixed ^ (mixed >> 30)) * 0xBF58476D1CE4E5B9u;
  mixed = (mixed ^ (mixed >> 27)) * 0x94D049BB133111EBu;
  return static_cast<std::uint32_t>(mixed >> 32) | 1u;
}

}  // namespace

// A type's files are numbered one after another and tools read them in that
// order, so ids that differ only in their lowest 4 bits start their probes in
// one run of 16 slots (128 bytes); multiplicative hashing spreads the runs
// over the whole index.
std::size_t Directory::slot_of(std::uint32_t id) const noexcept {
  static const std::uint32_t multiplier = draw_multiplier();
  const std::size_t group = static_cast<std::uint32_t>((id >> 4) * multiplier) >> shift_;
  return (group & ~std::size_t{15}) | (id & 15);
}

Directory::const_iterator Directory::find(std::uint32_t id) const noexcept {
  if (index_.empty()) return end();
  const std::size_t mask = index_.size() - 1;
  for (std::size_t slot = slot_of(id);; slot = (slot + 1) & mask) {
    const Slot& probe = index_[slot];
    if (probe.at == kEmpty) return end();
    if (probe.id == id) return begin() + probe.at;
  }
}

void Directory::insert_or_assign(std::uint32_t id, const DatFileEntry& entry) {
  // At most half full, so probes stay short.
  if (2 * (entries_.size() + 1) > index_.size()) {
    rehash(index_.empty() ? kFirstIndexSize : 2 * index_.size());
  }
  const std::size_t mask = index_.size() - 1;
  for (std::size_t slot = slot_of(id);; slot = (slot + 1) & mask) {
    Slot& probe = index_[slot];
    if (probe.at == kEmpty) {
      entries_.emplace_back(id, entry);
      probe = Slot{id, static_cast<std::uint32_t>(entries_.size() - 1)};
      return;
    }
    if (probe.id == id) {
      entries_[probe.at].second = entry;
      return;
    }
  }
}

void Directory::insert_all(std::span<const DatFileEntry> entries) {
  // Far enough ahead that a slot's cache line has arrived by its insert.
  constexpr std::size_t kAhead = 8;
  reserve(entries_.size() + entries.size());
  for (std::size_t k = 0; k < entries.size(); ++k) {
    if (k + kAhead < entries.size()) __builtin_prefetch(&index_[slot_of(entries[k + kAhead].id)]);
    insert_or_assign(entries[k].id, entries[k]);
  }
}

void Directory::reserve(std::size_t count) {
  entries_.reserve(count);
  std::size_t slots = kFirstIndexSize;
  while (slots < 2 * count) slots *= 2;
  if (slots > index_.size()) rehash(slots);
}

void Directory::rehash(std::size_t size) {
  index_.assign(size, Slot{0, kEmpty});
  shift_ = 32 - static_cast<unsigned>(std::countr_zero(size));
  const std::size_t mask = size - 1;
  for (std::uint32_t at = 0; at < entries_.size(); ++at) {
    const std::uint32_t id = entries_[at].first;
    std::size_t slot = slot_of(id);
    while (index_[slot].at != kEmpty) slot = (slot + 1) & mask;
    index_[slot] = Slot{id, at};
  }
}

}  // namespace brackwater_dat
