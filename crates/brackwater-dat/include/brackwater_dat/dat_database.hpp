#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "brackwater_dat/block_chain.hpp"
#include "brackwater_dat/bytes.hpp"
#include "brackwater_dat/dat_file_entry.hpp"
#include "brackwater_dat/dat_header.hpp"
#include "brackwater_dat/directory.hpp"
#include "brackwater_dat/error.hpp"
#include "brackwater_dat/source.hpp"

namespace brackwater_dat {

class RunHint;

// How opening treats the directory tree. `whole` reads every node when the
// archive is opened, so that a lookup is one hash probe. `on_demand` reads
// none then: each lookup descends the tree as a search tree from the root,
// reading only the nodes on its way. Where the directory is a search tree
// (in every node the ids strictly ascend, and each child holds only ids
// between the entries on either side of its link) and at most
// kMaxDirectoryDepth nodes deep, both ways give the same answers. Elsewhere
// they can differ: a lookup on demand fails on what is out of order on its
// path, but cannot see an id repeated or misplaced off it (it may miss the
// id, or find another occurrence than the whole directory keeps), and a node
// reached twice fails a whole opening but not a lookup that never passes it.
enum class DirectoryLoading { whole, on_demand };
// What a read of a compressed file does when its stream yields fewer bytes
// than its length prefix declares (or it has none): `keep` returns what
// decodes, as the reader always has; `fail` makes it a Corruption error
// naming the file and both sizes, for callers that must not take a damaged
// file for a whole one.
enum class ShortStream { keep, fail };

// An open archive. What it answers never changes after it is opened (it
// keeps only a hint of how its chains lie) and it reads only at named
// offsets, so any number of threads may read from one database at once.
class DatDatabase {
 public:
  // Opens the archive file read-only, reads its header and, read whole, the
  // directory.
  static Result<DatDatabase> open(const std::filesystem::path& path,
                                  DirectoryLoading loading = DirectoryLoading::whole);
  // The same over an archive held in memory; the database owns the bytes.
  static Result<DatDatabase> open_memory(Bytes bytes,
                                         DirectoryLoading loading = DirectoryLoading::whole);
  // The same over any source; an error the source returns surfaces as Io.
  static Result<DatDatabase> open_source(std::unique_ptr<Source> source,
                                         DirectoryLoading loading = DirectoryLoading::whole);

  DatDatabase(DatDatabase&&) noexcept;
  DatDatabase& operator=(DatDatabase&&) noexcept;
  ~DatDatabase();

  const DatHeader& header() const noexcept { return header_; }
  // The archive's length in bytes, as it was when opened: no read gives more.
  std::uint64_t length() const noexcept { return length_; }
  DirectoryLoading loading() const noexcept { return loading_; }
  // The directory loaded when the archive was opened whole; empty on demand.
  const Directory& directory() const noexcept { return directory_; }

  // The entry of file `id`; NotFound when the directory has none.
  Result<DatFileEntry> find(std::uint32_t id) const;
  // Every entry, sorted by id. On demand this walks the whole tree, as
  // opening whole does.
  Result<std::vector<DatFileEntry>> entries() const;
  // Each node where the directory is not a search tree, or lies too deep
  // for a lookup on demand; walks the whole tree.
  Result<std::vector<DirectoryOrderProblem>> directory_order_problems() const;

  // Exactly `size` payload bytes of the block chain that starts at `first_block`.
  Result<Bytes> read_file_data(std::uint32_t first_block, std::uint32_t size) const;
  // The same into `out`: exactly out.size() bytes.
  Result<void> read_file_data(std::uint32_t first_block, std::span<std::uint8_t> out) const;
  // The same into the buffer `buffer(size)` gives (at least `size` bytes, or
  // the error the read then returns), asked for only once the size has been
  // found no larger than the archive.
  using BufferFor = std::function<Result<std::span<std::uint8_t>>(std::size_t size)>;
  Result<void> read_file_data(std::uint32_t first_block, std::uint32_t size,
                              const BufferFor& buffer) const;

  // The file's contents, decompressed when its entry says so.
  Result<Bytes> get_file(std::uint32_t id, ShortStream short_stream = ShortStream::keep) const;
  // The most bytes get_file gives for file `id`: a stored file's size; a
  // compressed file's length prefix (read from its first block), or less
  // where its stored stream could not yield that many. A size larger than
  // the archive fails as get_file does.
  Result<std::uint32_t> file_size(std::uint32_t id) const;
  // get_file's bytes into `out`, which holds at least file_size(id) bytes
  // (else Other, naming both sizes); returns how many it wrote. For callers
  // that keep their own buffers: nothing is allocated for a stored file.
  Result<std::size_t> read_file(std::uint32_t id, std::span<std::uint8_t> out,
                                ShortStream short_stream = ShortStream::keep) const;
  // The same into the buffer `buffer(size)` gives once the size is known (or
  // the error the read then returns; fewer than `size` bytes is refused as
  // above): for callers that make their own objects to read into, as the
  // language bindings do, in one read where file_size and read_file take two.
  Result<std::size_t> read_file(std::uint32_t id, const BufferFor& buffer,
                                ShortStream short_stream = ShortStream::keep) const;
  // The file's bytes as stored, not decompressed.
  Result<Bytes> read_stored(std::uint32_t id) const;

  // For checkers that look at how files lie in the archive: the blocks a read
  // of `size` bytes from `first_block` visits, reading only their links; and
  // the read itself with the blocks it visited and how the chain ended.
  using ChainBlock = brackwater_dat::ChainBlock;
  Result<std::vector<ChainBlock>> chain_blocks(std::uint32_t first_block, std::uint32_t size) const;
  Result<ChainRead> read_chain(std::uint32_t first_block, std::uint32_t size) const;
  // The blocks chain_blocks gives, each handed to `visit` as the walk reaches
  // it, links only; the walk stops where `visit` returns false. A checker
  // that stops at a block it has seen walks a looping chain once, not for as
  // long as its size lasts.
  Result<void> visit_chain(std::uint32_t first_block, std::uint32_t size,
                           const std::function<bool(const ChainBlock&)>& visit) const;

 private:
  template <class Buffer>
  Result<std::size_t> read_entry(const DatFileEntry& entry, Buffer&& buffer,
                                 ShortStream short_stream) const;

  DatDatabase(std::unique_ptr<const Source> source, std::uint64_t length, const DatHeader& header,
              DirectoryLoading loading, Directory directory,
              std::unique_ptr<RunHint> run_hint) noexcept;

  std::unique_ptr<const Source> source_;
  std::uint64_t length_ = 0;  // when opened; bounds what a chain can deliver
  DatHeader header_{};
  DirectoryLoading loading_ = DirectoryLoading::whole;
  Directory directory_;
  std::unique_ptr<RunHint> run_hint_;  // how the last chain read began
};

}  // namespace brackwater_dat
