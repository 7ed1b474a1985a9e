#include "brackwater_dat/dat_database.hpp"

#include <algorithm>
#include <array>
#include <utility>

#include "allocation.hpp"
#include "block_chain.hpp"
#include "brackwater_dat/utils.hpp"
#include "coding.hpp"
#include "dat_header_layout.hpp"
#include "directory_tree.hpp"
#include "errors.hpp"
#include "file_source.hpp"
#include "memory_source.hpp"
#include "source_reads.hpp"

namespace brackwater_dat {
namespace {

// The header; an archive that ends inside it fails on the first field it
// does not hold, saying where the archive ends.
Result<DatHeader> read_header(const Source& source, std::uint64_t length) {
  std::array<std::uint8_t, kHeaderLength> bytes{};
  const auto got = source_reads::read_up_to(source, kHeaderOffset, bytes);
  auto header = decode_header(ByteView(bytes).first(got.count), got.error);
  if (header) return *header;
  ParseError error = std::move(header.error());
  if (!got.error) {
    error = ParseError(error.cause().with_short_read(kHeaderOffset + got.count, length),
                       error.frames());
  }
  return std::unexpected(DatError{DatError::BinRead{std::move(error)}});
}

// The buffer `buffer(size)` gives, refused when smaller than `size`, naming
// both sizes and what the bytes are: `what` followed by `id`.
template <class Buffer>
Result<std::span<std::uint8_t>> buffer_holding(Buffer& buffer, std::size_t size, const char* what,
                                               std::uint32_t id) {
  Result<std::span<std::uint8_t>> out = buffer(size);
  if (out && out->size() < size) {
    return std::unexpected(DatError{DatError::Other{"a buffer of " + std::to_string(out->size()) +
                                                    " bytes cannot hold " + what + hex_id(id) +
                                                    "'s " + std::to_string(size) + " bytes"}});
  }
  return out;
}

}  // namespace

DatDatabase::DatDatabase(std::unique_ptr<const Source> source, std::uint64_t length,
                         const DatHeader& header, DirectoryLoading loading, Directory directory,
                         std::unique_ptr<RunHint> run_hint) noexcept
    : source_(std::move(source)),
      length_(length),
      header_(header),
      loading_(loading),
      directory_(std::move(directory)),
      run_hint_(std::move(run_hint)) {}

DatDatabase::DatDatabase(DatDatabase&&) noexcept = default;
DatDatabase& DatDatabase::operator=(DatDatabase&&) noexcept = default;
DatDatabase::~DatDatabase() = default;

Result<DatDatabase> DatDatabase::open(const std::filesystem::path& path, DirectoryLoading loading) {
  auto source = open_file_source(path);
  if (!source) return std::unexpected(std::move(source.error()));
  return open_source(std::move(*source), loading);
}

Result<DatDatabase> DatDatabase::open_memory(Bytes bytes, DirectoryLoading loading) {
  return open_source(std::make_unique<MemorySource>(std::move(bytes)), loading);
}

Result<DatDatabase> DatDatabase::open_source(std::unique_ptr<Source> source,
                                             DirectoryLoading loading) {
  if (!source) {
    return std::unexpected(DatError{DatError::Other{"no source to open an archive from"}});
  }
  const auto length = source->length();
  if (!length) return io_error(length.error());
  auto header = read_header(*source, *length);
  if (!header) return std::unexpected(std::move(header.error()));
  Directory directory;
  if (loading == DirectoryLoading::whole) {
    const BlockChain chain(*source, *length, header->block_size);
    auto loaded = DirectoryTree(chain, header->root_offset).load();
    if (!loaded) return std::unexpected(std::move(loaded.error()));
    directory = std::move(*loaded);
  }
  std::unique_ptr<RunHint> hint;
  if (auto made = allocation::guarded(0, [&] { hint = std::make_unique<RunHint>(); }); !made) {
    return io_error(made.error());
  }
  return DatDatabase(std::move(source), *length, *header, loading, std::move(directory),
                     std::move(hint));
}

Result<DatFileEntry> DatDatabase::find(std::uint32_t id) const {
  if (loading_ == DirectoryLoading::on_demand) {
    const BlockChain chain(*source_, length_, header_.block_size, run_hint_.get());
    return DirectoryTree(chain, header_.root_offset).find(id);
  }
  const auto found = directory_.find(id);
  if (found == directory_.end()) return std::unexpected(DatError{DatError::NotFound{id}});
  return found->second;
}

Result<std::vector<DatFileEntry>> DatDatabase::entries() const {
  Result<Directory> walked;
  if (loading_ == DirectoryLoading::on_demand) {
    walked = DirectoryTree(BlockChain(*source_, length_, header_.block_size), header_.root_offset)
                 .load();
    if (!walked) return std::unexpected(std::move(walked.error()));
  }
  const Directory& directory = loading_ == DirectoryLoading::on_demand ? *walked : directory_;
  std::vector<DatFileEntry> sorted;
  const auto listed = allocation::guarded(directory.size() * sizeof(DatFileEntry), [&] {
    sorted.reserve(directory.size());
    for (const auto& [id, entry] : directory) sorted.push_back(entry);
  });
  if (!listed) return io_error(listed.error());
  std::ranges::sort(sorted, {}, &DatFileEntry::id);
  return sorted;
}

Result<std::vector<DirectoryOrderProblem>> DatDatabase::directory_order_problems() const {
  const BlockChain chain(*source_, length_, header_.block_size);
  return DirectoryTree(chain, header_.root_offset).order_problems();
}

Result<Bytes> DatDatabase::read_file_data(std::uint32_t first_block, std::uint32_t size) const {
  Bytes out;
  const BlockChain chain(*source_, length_, header_.block_size, run_hint_.get());
  if (auto read = chain.read(first_block, size, out); !read) {
    return std::unexpected(std::move(read.error()));
  }
  return out;
}

Result<std::vector<ChainBlock>> DatDatabase::chain_blocks(std::uint32_t first_block,
                                                          std::uint32_t size) const {
  return BlockChain(*source_, length_, header_.block_size).blocks(first_block, size);
}

Result<void> DatDatabase::visit_chain(std::uint32_t first_block, std::uint32_t size,
                                      const std::function<bool(const ChainBlock&)>& visit) const {
  return BlockChain(*source_, length_, header_.block_size).visit(first_block, size, visit);
}

Result<ChainRead> DatDatabase::read_chain(std::uint32_t first_block, std::uint32_t size) const {
  ChainRead read;
  const BlockChain chain(*source_, length_, header_.block_size, run_hint_.get());
  auto ended_early = chain.read(first_block, size, read.data, &read.blocks);
  if (!ended_early) return std::unexpected(std::move(ended_early.error()));
  read.ended_early = *ended_early;
  return read;
}

Result<void> DatDatabase::read_file_data(std::uint32_t first_block,
                                         std::span<std::uint8_t> out) const {
  const BlockChain chain(*source_, length_, header_.block_size, run_hint_.get());
  if (auto read = chain.read(first_block, out); !read) return std::unexpected(read.error());
  return {};
}

Result<void> DatDatabase::read_file_data(std::uint32_t first_block, std::uint32_t size,
                                         const BufferFor& buffer) const {
  if (size > length_) return io_error(unexpected_eof());
  const auto out = buffer_holding(buffer, size, "the chain at ", first_block);
  if (!out) return std::unexpected(out.error());
  return read_file_data(first_block, out->first(size));
}

Result<Bytes> DatDatabase::read_stored(std::uint32_t id) const {
  const auto entry = find(id);
  if (!entry) return std::unexpected(entry.error());
  return read_file_data(entry->offset, entry->size);
}

// Reads `entry` as get_file gives it into the buffer `buffer(size)` returns
// once the size is known (or the error it returns): a stored file's chain
// straight into it; a compressed file's stored bytes into a buffer of their
// own (not cleared first: the read fills it), decoded into it. A buffer
// smaller than `size` is refused, naming both sizes. Returns the bytes
// written.
template <class Buffer>
Result<std::size_t> DatDatabase::read_entry(const DatFileEntry& entry, Buffer&& buffer,
                                            ShortStream short_stream) const {
  const BlockChain chain(*source_, length_, header_.block_size, run_hint_.get());
  // No file holds more than the archive: a larger size is refused before a
  // buffer is asked for it, as a chain read refuses it.
  if (entry.size > length_) return io_error(unexpected_eof());
  const auto buffer_for = [&](std::size_t size) {
    return buffer_holding(buffer, size, "file ", entry.id);
  };
  if (!is_compressed(entry)) {
    const auto out = buffer_for(entry.size);
    if (!out) return std::unexpected(out.error());
    if (auto read = chain.read(entry.offset, out->first(entry.size)); !read) {
      return std::unexpected(std::move(read.error()));
    }
    return entry.size;
  }
  std::unique_ptr<std::uint8_t[]> stored;
  const auto allocated = allocation::guarded(
      entry.size, [&] { stored = std::make_unique_for_overwrite<std::uint8_t[]>(entry.size); });
  if (!allocated) return io_error(allocated.error());
  const std::span<std::uint8_t> payload(stored.get(), entry.size);
  if (auto read = chain.read(entry.offset, payload); !read) {
    return std::unexpected(std::move(read.error()));
  }
  const auto out = buffer_for(utils::lrs_output_bound(payload));
  if (!out) return std::unexpected(out.error());
  const std::size_t written = utils::decompress_lrs_into(payload, *out);
  if (short_stream == ShortStream::fail) {
    if (auto shortfall = utils::lrs_shortfall(payload, written)) {
      return corruption("file " + hex_id(entry.id) + " " + *shortfall);
    }
  }
  return written;
}

Result<Bytes> DatDatabase::get_file(std::uint32_t id, ShortStream short_stream) const {
  const auto entry = find(id);
  if (!entry) return std::unexpected(entry.error());
  Bytes out;
  auto written = read_entry(
      *entry,
      [&](std::size_t size) -> Result<std::span<std::uint8_t>> {
        if (auto sized = allocation::resize(out, size); !sized) return io_error(sized.error());
        return std::span(out);
      },
      short_stream);
  if (!written) return std::unexpected(std::move(written.error()));
  out.resize(*written);
  return out;
}

Result<std::uint32_t> DatDatabase::file_size(std::uint32_t id) const {
  const auto entry = find(id);
  if (!entry) return std::unexpected(entry.error());
  // What get_file would refuse is no size to make room for.
  if (entry->size > length_) return io_error(unexpected_eof());
  if (!is_compressed(*entry) || entry->size < 4) return entry->size;
  std::array<std::uint8_t, 4> prefix;
  if (auto read = read_file_data(entry->offset, prefix); !read) {
    return std::unexpected(std::move(read.error()));
  }
  return static_cast<std::uint32_t>(
      utils::lrs_output_bound(coding::load_u32(prefix.data()), entry->size));
}

Result<std::size_t> DatDatabase::read_file(std::uint32_t id, const BufferFor& buffer,
                                           ShortStream short_stream) const {
  const auto entry = find(id);
  if (!entry) return std::unexpected(entry.error());
  return read_entry(*entry, buffer, short_stream);
}

Result<std::size_t> DatDatabase::read_file(std::uint32_t id, std::span<std::uint8_t> out,
                                           ShortStream short_stream) const {
  const auto entry = find(id);
  if (!entry) return std::unexpected(entry.error());
  // read_entry refuses a buffer smaller than the file, naming both sizes.
  return read_entry(
      *entry, [&](std::size_t) -> Result<std::span<std::uint8_t>> { return out; }, short_stream);
}

}  // namespace brackwater_dat
