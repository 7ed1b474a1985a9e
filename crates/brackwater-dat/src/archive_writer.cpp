#include "brackwater_dat/archive_writer.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <limits>
#include <optional>
#include <vector>

#include "allocation.hpp"
#include "coding.hpp"
#include "dat_header_layout.hpp"
#include "directory_node.hpp"
#include "errors.hpp"
#include "output_file.hpp"

namespace brackwater_dat {
namespace {

constexpr std::uint32_t kSmallestBlock = 512;
constexpr std::uint32_t kLargestBlock = 1 << 20;
constexpr std::uint64_t kLargestArchive = std::numeric_limits<std::uint32_t>::max();
// Writes go out, and stored bytes come back from the spool, this much at a time.
constexpr std::size_t kBuffer = 1 << 20;

// The directory is a B-tree of minimum degree 31: a node other than the root
// holds 30 to 61 entries and an inner one 31 to 62 children.
constexpr std::uint64_t kMostEntries = 61;
constexpr std::uint64_t kFewestEntries = 30;
constexpr std::uint64_t kFewestChildren = kFewestEntries + 1;

// The most entries a subtree `height` levels deep holds: 62^height - 1.
std::uint64_t most_below(std::uint32_t height) {
  std::uint64_t most = 0;
  for (std::uint32_t level = 0; level < height; ++level)
    most = most * (kMostEntries + 1) + kMostEntries;
  return most;
}

DatError other(std::string text) { return DatError{DatError::Other{std::move(text)}}; }

// One node of the tree being written: the run of sorted entries its subtree
// holds, how deep it is (1: a leaf), and where its children start in the
// breadth-first order.
struct NodeShape {
  std::uint32_t first;
  std::uint32_t count;
  std::uint32_t height;
  std::uint32_t first_child;
};

// How an inner node's entries split: `children` subtrees of as even sizes
// as can be, an entry between each two. The fewest children that can hold
// the entries (at least `fewest`) keeps every child within its bounds.
struct Split {
  std::uint32_t children;
  std::uint32_t share;  // every child holds share entries, the first `extra` one more
  std::uint32_t extra;

  std::uint32_t size(std::uint32_t child) const { return share + (child < extra ? 1 : 0); }
};

Split split(const NodeShape& node, bool root) {
  const std::uint64_t child_most = most_below(node.height - 1);
  const std::uint64_t needed = (std::uint64_t{node.count} + child_most) / (child_most + 1);
  const auto children =
      static_cast<std::uint32_t>(std::max<std::uint64_t>(root ? 2 : kFewestChildren, needed));
  const std::uint32_t below = node.count - (children - 1);
  return {children, below / children, below % children};
}

// The directory's nodes, root first, breadth-first.
std::vector<NodeShape> shape_tree(std::uint32_t entries) {
  std::vector<NodeShape> nodes;
  if (entries == 0) return nodes;
  std::uint32_t height = 1;
  while (entries > most_below(height)) ++height;
  nodes.push_back({0, entries, height, 0});
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    if (nodes[i].height == 1) continue;
    const NodeShape node = nodes[i];
    const Split parts = split(node, i == 0);
    nodes[i].first_child = static_cast<std::uint32_t>(nodes.size());
    std::uint32_t first = node.first;
    for (std::uint32_t child = 0; child < parts.children; ++child) {
      nodes.push_back({first, parts.size(child), node.height - 1, 0});
      first += parts.size(child) + 1;
    }
  }
  return nodes;
}

// Appends whole blocks to the archive: each chain in consecutive blocks, a
// link to the next block in each but the last.
class BlockWriter {
 public:
  BlockWriter(OutputFile& out, std::uint32_t block_size) : out_(out), block_size_(block_size) {
    buffer_.reserve(kBuffer + block_size);
  }

  Result<void> raw(ByteView bytes) {
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
    return drain(kBuffer);
  }

  // `payload` as a chain starting at `offset`, where the writing has got to.
  Result<void> chain(std::uint32_t offset, ByteView payload) {
    const std::size_t capacity = block_size_ - 4;
    while (!payload.empty()) {
      const std::size_t chunk = std::min(capacity, payload.size());
      offset += block_size_;
      std::array<std::uint8_t, 4> link{};
      if (chunk < payload.size()) coding::store_u32(link.data(), offset);
      buffer_.insert(buffer_.end(), link.begin(), link.end());
      buffer_.insert(buffer_.end(), payload.begin(), payload.begin() + chunk);
      buffer_.resize(buffer_.size() + (capacity - chunk));
      payload = payload.subspan(chunk);
      if (auto drained = drain(kBuffer); !drained) return drained;
    }
    return {};
  }

  Result<void> flush() { return drain(0); }

 private:
  Result<void> drain(std::size_t keep_below) {
    if (buffer_.size() < keep_below || buffer_.empty()) return {};
    auto wrote = out_.append(buffer_);
    buffer_.clear();
    return wrote;
  }

  OutputFile& out_;
  std::uint32_t block_size_;
  Bytes buffer_;
};

// Stored bytes read back from the spool through a window, so that files
// added in id order come back in large reads.
class SpoolReader {
 public:
  SpoolReader(const OutputFile& spool, std::uint64_t length) : spool_(spool), length_(length) {}

  Result<ByteView> read(std::uint64_t offset, std::size_t size) {
    if (offset < start_ || offset + size > start_ + window_.size()) {
      const std::size_t span = static_cast<std::size_t>(
          std::min<std::uint64_t>(std::max(size, kBuffer), length_ - offset));
      if (auto grown = allocation::resize(window_, span); !grown) return io_error(grown.error());
      if (auto got = spool_.read_at(offset, window_); !got) return std::unexpected(got.error());
      start_ = offset;
    }
    return ByteView(window_).subspan(static_cast<std::size_t>(offset - start_), size);
  }

 private:
  const OutputFile& spool_;
  std::uint64_t length_;
  std::uint64_t start_ = 0;
  Bytes window_;
};

}  // namespace

struct ArchiveWriter::State {
  std::filesystem::path path;
  WriterOptions options;
  std::optional<OutputFile> spool;  // gone once committed
  std::uint64_t spool_length = 0;   // including what still waits in `pending`
  Bytes pending;
  // Every entry, its offset the stored bytes' place in the spool until the
  // commit lays the archive out. Ids added in ascending order go straight
  // into `sorted`; others wait in `unsorted` and are merged in batches.
  std::vector<DatFileEntry> sorted;
  std::vector<DatFileEntry> unsorted;
  bool committed = false;

  static constexpr std::size_t kUnsortedBatch = 1024;

  bool holds(std::uint32_t id) const {
    auto below = [](const DatFileEntry& entry, std::uint32_t key) { return entry.id < key; };
    const auto at = std::lower_bound(sorted.begin(), sorted.end(), id, below);
    if (at != sorted.end() && at->id == id) return true;
    return std::any_of(unsorted.begin(), unsorted.end(),
                       [&](const DatFileEntry& entry) { return entry.id == id; });
  }

  void merge_unsorted() {
    auto by_id = [](const DatFileEntry& a, const DatFileEntry& b) { return a.id < b.id; };
    std::sort(unsorted.begin(), unsorted.end(), by_id);
    const auto middle = sorted.insert(sorted.end(), unsorted.begin(), unsorted.end());
    std::inplace_merge(sorted.begin(), middle, sorted.end(), by_id);
    unsorted.clear();
  }

  // Why file `id` cannot be added, if it cannot.
  Result<void> can_add(std::uint32_t id) const {
    if (committed) return std::unexpected(other("the archive was already committed"));
    if (holds(id)) return std::unexpected(other("file " + hex_id(id) + " is added twice"));
    return {};
  }

  Result<void> put(DatFileEntry entry, ByteView stored) {
    if (auto can = can_add(entry.id); !can) return can;
    if (spool_length + stored.size() > kLargestArchive) {
      return std::unexpected(other("the files add up to more than an archive's 4 GiB"));
    }
    entry.offset = static_cast<std::uint32_t>(spool_length);
    entry.size = static_cast<std::uint32_t>(stored.size());
    auto& into =
        unsorted.empty() && (sorted.empty() || sorted.back().id < entry.id) ? sorted : unsorted;
    if (auto room = allocation::reserve_for(into, 1); !room) return io_error(room.error());
    into.push_back(entry);
    if (unsorted.size() >= kUnsortedBatch) merge_unsorted();

    spool_length += stored.size();
    if (pending.size() + stored.size() > kBuffer) {
      if (auto wrote = spool->append(pending); !wrote) return wrote;
      pending.clear();
      if (stored.size() > kBuffer) return spool->append(stored);
    }
    pending.insert(pending.end(), stored.begin(), stored.end());
    return {};
  }

  Result<void> write_archive();
};

Result<void> ArchiveWriter::State::write_archive() {
  if (auto wrote = spool->append(pending); !wrote) return wrote;
  pending = Bytes();
  merge_unsorted();

  const std::uint32_t block = options.block_size;
  const std::uint64_t capacity = block - 4;
  auto blocks_for = [&](std::uint64_t size) { return (size + capacity - 1) / capacity; };
  const std::uint64_t first_block = (kHeaderOffset + kHeaderLength + block - 1) / block * block;
  const std::vector<NodeShape> nodes = shape_tree(static_cast<std::uint32_t>(sorted.size()));
  const std::uint64_t node_span = blocks_for(DirectoryNode::kLength) * block;
  auto node_offset = [&](std::size_t node) {
    return static_cast<std::uint32_t>(first_block + node * node_span);
  };

  // Each file's place in the archive; its place in the spool kept aside.
  std::vector<std::uint32_t> spooled(sorted.size());
  std::uint64_t end = first_block + nodes.size() * node_span;
  for (std::size_t i = 0; i < sorted.size(); ++i) {
    spooled[i] = sorted[i].offset;
    sorted[i].offset = sorted[i].size == 0 ? 0 : static_cast<std::uint32_t>(end);
    end += blocks_for(sorted[i].size) * block;
    if (end > kLargestArchive) {
      return std::unexpected(other("the archive would be longer than 4 GiB"));
    }
  }

  auto out = OutputFile::create_beside(path);
  if (!out) return std::unexpected(out.error());
  BlockWriter writer(*out, block);

  DatHeader header = options.header;
  header.magic = kDatMagic;
  header.block_size = block;
  header.file_size = static_cast<std::uint32_t>(end);
  header.free_head = header.free_tail = header.free_count = 0;
  header.root_offset = nodes.empty() ? 0 : node_offset(0);
  Bytes front(first_block);
  const auto encoded = encode_header(header);
  std::copy(encoded.begin(), encoded.end(), front.begin() + kHeaderOffset);
  if (auto wrote = writer.raw(front); !wrote) return wrote;

  std::array<std::uint8_t, DirectoryNode::kLength> node_bytes;
  std::vector<DatFileEntry> node_entries;
  std::vector<std::uint32_t> children;
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    const NodeShape& node = nodes[i];
    node_entries.clear();
    children.clear();
    if (node.height == 1) {
      node_entries.assign(sorted.begin() + node.first, sorted.begin() + node.first + node.count);
    } else {
      const Split parts = split(node, i == 0);
      std::uint32_t next = node.first;
      for (std::uint32_t child = 0; child < parts.children; ++child) {
        children.push_back(node_offset(node.first_child + child));
        next += parts.size(child);
        if (child + 1 < parts.children) node_entries.push_back(sorted[next++]);
      }
    }
    DirectoryNode::encode(children, node_entries, node_bytes);
    if (auto wrote = writer.chain(node_offset(i), node_bytes); !wrote) return wrote;
  }

  SpoolReader stored(*spool, spool_length);
  for (std::size_t i = 0; i < sorted.size(); ++i) {
    auto bytes = stored.read(spooled[i], sorted[i].size);
    if (!bytes) return std::unexpected(bytes.error());
    if (auto wrote = writer.chain(sorted[i].offset, *bytes); !wrote) return wrote;
  }
  if (auto flushed = writer.flush(); !flushed) return flushed;
  if (auto published = out->publish(path, options.overwrite); !published) return published;
  spool.reset();
  return {};
}

ArchiveWriter::ArchiveWriter(std::unique_ptr<State> state) noexcept : state_(std::move(state)) {}
ArchiveWriter::ArchiveWriter(ArchiveWriter&&) noexcept = default;
ArchiveWriter& ArchiveWriter::operator=(ArchiveWriter&&) noexcept = default;
ArchiveWriter::~ArchiveWriter() = default;

std::expected<ArchiveWriter, DatError> ArchiveWriter::create(std::string path,
                                                             WriterOptions options) {
  const std::uint32_t block = options.block_size;
  if (block < kSmallestBlock || block > kLargestBlock || block % 4 != 0) {
    return std::unexpected(other("block size " + std::to_string(block) +
                                 " is not a multiple of 4 from 512 to 1048576"));
  }
  std::filesystem::path at(std::move(path));
  if (!options.overwrite && path_exists(at)) {
    return std::unexpected(DatError{DatError::PathError{at, IoError::from_os(EEXIST)}});
  }
  auto spool = OutputFile::create_beside(at);
  if (!spool) return std::unexpected(spool.error());
  return ArchiveWriter(std::unique_ptr<State>(
      new State{std::move(at), options, std::move(*spool), 0, {}, {}, {}, false}));
}

std::expected<void, DatError> ArchiveWriter::add(std::uint32_t id,
                                                 std::span<const std::uint8_t> contents,
                                                 Compression compression, std::uint32_t timestamp,
                                                 std::uint32_t version) {
  const DatFileEntry stored_entry{0, id, 0, 0, timestamp, version};
  if (compression == Compression::store) return state_->put(stored_entry, contents);
  if (auto can = state_->can_add(id); !can) return can;
  auto packed = utils::compress_lrs(
      contents, compression == Compression::lrs_fast ? LrsLevel::fast : LrsLevel::best);
  if (!packed) return std::unexpected(packed.error());
  if (compression == Compression::smaller && packed->size() >= contents.size()) {
    return state_->put(stored_entry, contents);
  }
  DatFileEntry entry = stored_entry;
  entry.bit_flags = 1;
  return state_->put(entry, *packed);
}

std::expected<void, DatError> ArchiveWriter::add_stored(const DatFileEntry& entry,
                                                        std::span<const std::uint8_t> stored) {
  return state_->put(entry, stored);
}

std::expected<void, DatError> ArchiveWriter::commit() {
  if (state_->committed) return std::unexpected(other("the archive was already committed"));
  // The layout replaces the entries' spool offsets: a failed commit cannot be retried.
  state_->committed = true;
  return state_->write_archive();
}

}  // namespace brackwater_dat
