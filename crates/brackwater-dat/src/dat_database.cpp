#include "brackwater_dat/dat_database.hpp"

#include <array>
#include <new>
#include <unordered_set>
#include <utility>
#include <vector>

#include "brackwater_dat/utils.hpp"
#include "dat_header_layout.hpp"
#include "directory_node.hpp"
#include "file_io.hpp"
#include "record_reader.hpp"

namespace brackwater_dat {
namespace {

std::unexpected<DatError> io_error(IoError error) {
  return std::unexpected(DatError{DatError::Io{std::move(error)}});
}

std::unexpected<DatError> corruption(std::string text) {
  return std::unexpected(DatError{DatError::Corruption{std::move(text)}});
}

std::string hex32(std::uint32_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text = "0x00000000";
  for (int i = 9; i >= 2; --i, value >>= 4) text[i] = kDigits[value & 0xF];
  return text;
}

Result<DatHeader> read_header(int fd) {
  std::array<std::uint8_t, kHeaderLength> bytes{};
  const auto got = file_io::read_up_to(fd, kHeaderOffset, bytes);
  auto header = decode_header(ByteView(bytes).first(got.count), got.error);
  if (!header) return std::unexpected(DatError{DatError::BinRead{std::move(header.error())}});
  return *header;
}

}  // namespace

DatDatabase::DatDatabase(int fd, std::uint64_t file_length, const DatHeader& header) noexcept
    : fd_(fd), file_length_(file_length), header_(header) {}

DatDatabase::DatDatabase(DatDatabase&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      file_length_(other.file_length_),
      header_(other.header_),
      directory_(std::move(other.directory_)) {}

DatDatabase& DatDatabase::operator=(DatDatabase&& other) noexcept {
  if (this != &other) {
    file_io::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    file_length_ = other.file_length_;
    header_ = other.header_;
    directory_ = std::move(other.directory_);
  }
  return *this;
}

DatDatabase::~DatDatabase() { file_io::close(fd_); }

Result<DatDatabase> DatDatabase::open(const std::filesystem::path& path) {
  auto path_error = [&](IoError source) {
    return std::unexpected(DatError{DatError::PathError{path, std::move(source)}});
  };
  const auto fd = file_io::open_read_only(path);
  if (!fd) return path_error(fd.error());
  // Owns the descriptor until the database does.
  struct Closer {
    int fd;
    ~Closer() { file_io::close(fd); }
  } closer{*fd};

  if (auto directory = file_io::refuse_directory(*fd); !directory) {
    return path_error(directory.error());
  }
  const auto length = file_io::length_of(*fd);
  if (!length) return io_error(length.error());
  if (auto positioned = file_io::seek(*fd, kHeaderOffset); !positioned) {
    return io_error(positioned.error());
  }
  auto header = read_header(*fd);
  if (!header) return std::unexpected(std::move(header.error()));

  DatDatabase database(std::exchange(closer.fd, -1), *length, *header);
  if (auto loaded = database.read_directory(); !loaded) {
    return std::unexpected(std::move(loaded.error()));
  }
  return database;
}

Result<Bytes> DatDatabase::read_file_data(std::uint32_t first_block, std::uint32_t size) const {
  Bytes out;
  if (auto read = read_chain(first_block, size, out); !read) {
    return std::unexpected(std::move(read.error()));
  }
  return out;
}

// Gathers `size` bytes of the chain at `first_block` into `out`, reusing its
// storage. Where a block's link and payload are contiguous in the file they
// are read together, which gives the bytes and errors of reading them apart.
Result<void> DatDatabase::read_chain(std::uint32_t first_block, std::uint32_t size,
                                     Bytes& out) const {
  if (size == 0) {
    out.clear();
    return {};
  }
  // Only a chain whose blocks revisit or overlap each other could deliver more
  // bytes than the file holds; a sound one would end at the file's end anyway.
  if (size > file_length_) return io_error(file_io::unexpected_eof());
  try {
    out.resize(size);  // a reused buffer of the same size is not cleared again
  } catch (const std::bad_alloc&) {
    return io_error(IoError::simple(IoErrorKind::OutOfMemory,
                                    "cannot allocate " + std::to_string(size) + " bytes"));
  }

  const std::uint32_t capacity = header_.block_size - 4;  // wraps below 4, as stored
  // With no payload per block only the chain's end makes progress, so a chain
  // that never ends must loop; Brent's method finds the loop within one lap.
  std::uint32_t loop_mark = first_block;
  std::uint64_t lap = 1, steps = 0;
  std::uint32_t written = 0;
  std::uint32_t remaining = size;
  std::uint32_t block = first_block;
  for (;;) {
    const std::uint32_t chunk = std::min(remaining, capacity);
    const std::uint32_t payload = block + 4;  // modulo 2^32
    std::array<std::uint8_t, 4> link{};
    std::array<iovec, 2> parts{iovec{link.data(), link.size()}, iovec{out.data() + written, chunk}};
    const bool contiguous = payload > block;
    if (auto read = file_io::read_exact_at(fd_, block, std::span(parts).first(contiguous ? 2 : 1));
        !read) {
      return io_error(std::move(read.error()));
    }
    const std::uint32_t next = record::load_u32(link.data());
    if (next == 0) {
      // The last block holds whatever is still missing, read on past its end.
      const std::uint32_t done = contiguous ? chunk : 0;
      auto rest = std::span(out).subspan(written + done, remaining - done);
      if (auto read = file_io::read_exact_at(fd_, std::uint64_t{payload} + done, rest); !read) {
        return io_error(std::move(read.error()));
      }
      return {};
    }
    if (!contiguous && chunk != 0) {
      auto part = std::span(out).subspan(written, chunk);
      if (auto read = file_io::read_exact_at(fd_, payload, part); !read) {
        return io_error(std::move(read.error()));
      }
    }
    remaining -= chunk;
    if (remaining == 0) return {};
    written += chunk;
    block = next;
    if (capacity == 0) {
      if (block == loop_mark) {
        return corruption("block chain at " + hex32(first_block) + " loops back to block " +
                          hex32(block) + " without reaching its end");
      }
      if (++steps == lap) loop_mark = block, lap *= 2, steps = 0;
    }
  }
}

Result<void> DatDatabase::read_directory() { return read_node(header_.root_offset); }

// Walks the tree below `node_offset` depth first, pre-order: a node's entries
// go into the directory before its children are read, and a child's subtree
// before its next sibling, so the occurrence of an id read last is kept. The
// walk keeps its own stack, so depth costs no call stack, and refuses a node
// reached twice, which no real tree has and which would otherwise loop.
Result<void> DatDatabase::read_node(std::uint32_t node_offset) {
  std::vector<std::uint32_t> pending;
  if (node_offset != 0) pending.push_back(node_offset);
  std::unordered_set<std::uint32_t> visited;
  Bytes bytes;
  while (!pending.empty()) {
    const std::uint32_t offset = pending.back();
    pending.pop_back();
    if (!visited.insert(offset).second) {
      return corruption("directory node at " + hex32(offset) + " is reached twice");
    }
    if (auto read = read_chain(offset, DirectoryNode::kLength, bytes); !read) return read;

    const DirectoryNode node(bytes);
    const std::uint32_t count = node.entry_count();
    for (std::uint32_t k = 0; k < count; ++k) {
      auto entry = node.entry(k);
      if (!entry) return std::unexpected(DatError{DatError::BinRead{std::move(entry.error())}});
      directory_.insert_or_assign(entry->id, *entry);
    }
    if (node.child(0) == 0) continue;  // a leaf: its other links mean nothing
    // Children 0..n, pushed last first so that they are read in order.
    const std::size_t last = std::min<std::size_t>(count, DirectoryNode::kChildCount - 1);
    for (std::size_t j = last + 1; j-- > 0;) {
      if (const std::uint32_t child = node.child(j); child != 0) pending.push_back(child);
    }
  }
  return {};
}

Result<Bytes> DatDatabase::get_file(std::uint32_t id) const {
  const auto found = directory_.find(id);
  if (found == directory_.end()) return std::unexpected(DatError{DatError::NotFound{id}});
  const DatFileEntry& entry = found->second;
  auto stored = read_file_data(entry.offset, entry.size);
  if (!stored || (entry.bit_flags & 1) == 0) return stored;
  return utils::decompress_lrs(*stored);
}

}  // namespace brackwater_dat
