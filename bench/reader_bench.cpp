// The reader measured against the floors it cannot beat (the same positioned
// reads, without decoding) and against peer decoders, in one process.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <lz4.h>
#include <malloc.h>
#include <sys/uio.h>
#include <unistd.h>
#include <zlib.h>

#include <array>
#include <brackwater_dat/dat_database.hpp>
#include <brackwater_dat/file_type/sound_table.hpp>
#include <brackwater_dat/utils.hpp>
#include <cstring>
#include <random>
#include <vector>

#include "coding.hpp"
#include "support/lrs_codec.hpp"
#include "support/lrs_oracle.hpp"
#include "support/realistic_archives.hpp"
#include "support/sound_table_builder.hpp"

namespace {

using namespace brackwater_dat;
using test_support::ContentKind;

const std::filesystem::path kCache = BENCH_CACHE_DIR;
constexpr std::uint32_t kFiles = 100'000;

const DatDatabase& realistic() {
  static const DatDatabase db =
      DatDatabase::open(test_support::realistic_archive(kCache, kFiles)).value();
  return db;
}

// The same files, no chain's blocks adjacent.
const DatDatabase& scattered() {
  static const DatDatabase db =
      DatDatabase::open(test_support::realistic_archive(kCache, kFiles, true)).value();
  return db;
}

Bytes file_bytes(const std::filesystem::path& path) {
  Bytes bytes(std::filesystem::file_size(path));
  const int fd = ::open(path.c_str(), O_RDONLY);
  for (std::size_t at = 0; at < bytes.size();) {
    const ssize_t got = ::pread(fd, bytes.data() + at, bytes.size() - at, static_cast<off_t>(at));
    if (got <= 0) break;
    at += static_cast<std::size_t>(got);
  }
  ::close(fd);
  return bytes;
}

// The realistic archive held in memory.
const DatDatabase& in_memory() {
  static const DatDatabase db =
      DatDatabase::open_memory(file_bytes(test_support::realistic_archive(kCache, kFiles))).value();
  return db;
}

// Drops the archive's pages from the page cache, so the next open reads the disk.
void evict(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  ::fdatasync(fd);
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  ::close(fd);
}

// Reads a chain the way the floor may: one positioned read per block (its
// link and payload together) into a reused buffer, and nothing else.
std::size_t read_chain_floor(int fd, std::uint32_t block, std::uint32_t size,
                             std::uint32_t block_size, std::vector<std::uint8_t>& buffer) {
  buffer.resize(size);
  std::uint32_t written = 0;
  std::uint8_t link[4];
  while (written < size) {
    const std::uint32_t chunk = std::min(size - written, block_size - 4);
    iovec parts[2] = {{link, 4}, {buffer.data() + written, chunk}};
    ::preadv(fd, parts, 2, block);
    written += chunk;
    block = coding::load_u32(link);
  }
  return written;
}

// ---- open ----

void BM_Open(benchmark::State& state) {
  const auto path = test_support::realistic_archive(kCache, kFiles);
  for (auto _ : state) {
    auto db = DatDatabase::open(path);
    benchmark::DoNotOptimize(db);
  }
  state.counters["entries"] = static_cast<double>(realistic().directory().size());
}

// The realistic archive at the start of a sparse file of 3.9 GB, as large as
// the game's largest: what the JavaScript benchmark opens through a file
// source, against this.
std::filesystem::path sparse_archive() {
  const auto path = kCache / "sparse-3.9G.dat";
  if (!std::filesystem::exists(path)) {
    std::filesystem::copy_file(test_support::realistic_archive(kCache, kFiles), path);
    std::filesystem::resize_file(path, 3'900'000'000);
  }
  return path;
}

void BM_OpenSparse(benchmark::State& state) {
  const auto path = sparse_archive();
  for (auto _ : state) {
    auto db = DatDatabase::open(path);
    benchmark::DoNotOptimize(db);
  }
}

// Opens the archive and reads its header and every node the floor's way.
void open_floor(const std::filesystem::path& path, const std::vector<std::uint32_t>& nodes,
                std::vector<std::uint8_t>& buffer) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  std::uint8_t header[80];
  ::pread(fd, header, sizeof header, 0x140);
  for (const std::uint32_t node : nodes) read_chain_floor(fd, node, 1716, 1024, buffer);
  ::close(fd);
  benchmark::DoNotOptimize(buffer.data());
}

void BM_OpenFloor(benchmark::State& state) {
  const auto path = test_support::realistic_archive(kCache, kFiles);
  const auto nodes = test_support::node_offsets(path);
  std::vector<std::uint8_t> buffer;
  for (auto _ : state) open_floor(path, nodes, buffer);
  state.counters["nodes"] = static_cast<double>(nodes.size());
}

// Opening with the archive's pages evicted before each iteration.
void BM_OpenCold(benchmark::State& state) {
  const auto path = test_support::realistic_archive(kCache, kFiles);
  for (auto _ : state) {
    state.PauseTiming();
    evict(path);
    state.ResumeTiming();
    auto db = DatDatabase::open(path);
    benchmark::DoNotOptimize(db);
  }
}

void BM_OpenColdFloor(benchmark::State& state) {
  const auto path = test_support::realistic_archive(kCache, kFiles);
  const auto nodes = test_support::node_offsets(path);
  std::vector<std::uint8_t> buffer;
  for (auto _ : state) {
    state.PauseTiming();
    evict(path);
    state.ResumeTiming();
    open_floor(path, nodes, buffer);
  }
}

// ---- fetch ----

std::vector<DatFileEntry> entries_where(bool compressed, const DatDatabase& db = realistic()) {
  std::vector<DatFileEntry> entries;
  for (const auto& [id, entry] : db.directory()) {
    if (is_compressed(entry) == compressed) entries.push_back(entry);
  }
  std::ranges::sort(entries, {}, &DatFileEntry::offset);  // a tool pulling files in file order
  return entries;
}

// Every stored (or compressed) file of `db`, with get_file, in file order.
void fetch_files(benchmark::State& state, const DatDatabase& db, bool compressed) {
  const auto entries = entries_where(compressed, db);
  std::size_t bytes = 0;
  for (auto _ : state) {
    for (const auto& entry : entries) {
      auto file = db.get_file(entry.id);
      bytes += file->size();
      benchmark::DoNotOptimize(file);
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
  state.counters["files"] = static_cast<double>(entries.size());
}

void BM_Fetch(benchmark::State& state) { fetch_files(state, realistic(), state.range(0) != 0); }

// Every stored file of `db`, read from `path` the floor's way.
void fetch_floor(benchmark::State& state, const DatDatabase& db,
                 const std::filesystem::path& path) {
  const auto entries = entries_where(false, db);
  const int fd = ::open(path.c_str(), O_RDONLY);
  std::vector<std::uint8_t> buffer;
  std::size_t bytes = 0;
  for (auto _ : state) {
    for (const auto& entry : entries) {
      bytes += read_chain_floor(fd, entry.offset, entry.size, 1024, buffer);
      benchmark::DoNotOptimize(buffer.data());
    }
  }
  ::close(fd);
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

void BM_FetchFloor(benchmark::State& state) {
  fetch_floor(state, realistic(), test_support::realistic_archive(kCache, kFiles));
}

void BM_FetchScattered(benchmark::State& state) { fetch_files(state, scattered(), false); }

void BM_FetchScatteredFloor(benchmark::State& state) {
  fetch_floor(state, scattered(), test_support::realistic_archive(kCache, kFiles, true));
}

void BM_FetchMemory(benchmark::State& state) { fetch_files(state, in_memory(), false); }

// The same files read with read_file into one reused buffer: what a caller
// that keeps its own buffer pays, against the same memcpy floor.
void BM_ReadFileInto(benchmark::State& state) {
  const auto entries = entries_where(false, in_memory());
  Bytes buffer;
  for (const auto& entry : entries) buffer.resize(std::max<std::size_t>(buffer.size(), entry.size));
  std::size_t bytes = 0;
  for (auto _ : state) {
    for (const auto& entry : entries) {
      bytes += in_memory().read_file(entry.id, buffer).value();
      benchmark::DoNotOptimize(buffer.data());
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

// Every file, stored and compressed, in id order, kept in a list as a
// script's [db.get_file(e.id) for e in db.entries()] keeps them: the loop the
// Python and JavaScript benchmarks run too.
void BM_GetFileEveryEntry(benchmark::State& state) {
  const auto entries = realistic().entries().value();
  for (auto _ : state) {
    std::vector<Bytes> files;
    files.reserve(entries.size());
    for (const auto& entry : entries) files.push_back(realistic().get_file(entry.id).value());
    benchmark::DoNotOptimize(files.data());
  }
  state.counters["files"] = static_cast<double>(entries.size());
}

// A plain memcpy of the same payload bytes, each file's into a reused buffer.
void BM_FetchMemoryFloor(benchmark::State& state) {
  const auto entries = entries_where(false, in_memory());
  Bytes payloads;
  std::vector<std::pair<std::size_t, std::size_t>> spans;
  std::size_t largest = 0;
  for (const auto& entry : entries) {
    const Bytes file = in_memory().get_file(entry.id).value();
    spans.emplace_back(payloads.size(), file.size());
    payloads.insert(payloads.end(), file.begin(), file.end());
    largest = std::max(largest, file.size());
  }
  Bytes buffer(largest);
  std::size_t bytes = 0;
  for (auto _ : state) {
    for (const auto& [at, size] : spans) {
      std::memcpy(buffer.data(), payloads.data() + at, size);
      benchmark::DoNotOptimize(buffer.data());
      bytes += size;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

// ---- on demand ----

// The realistic archive with its directory read on demand.
const DatDatabase& on_demand() {
  static const DatDatabase db = DatDatabase::open(test_support::realistic_archive(kCache, kFiles),
                                                  DirectoryLoading::on_demand)
                                    .value();
  return db;
}

// The same stored files, each found by descending the directory.
void BM_GetFileOnDemand(benchmark::State& state) {
  const auto entries = entries_where(false);
  std::size_t bytes = 0;
  for (auto _ : state) {
    for (const auto& entry : entries) {
      auto file = on_demand().get_file(entry.id);
      bytes += file->size();
      benchmark::DoNotOptimize(file);
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

// Opening reads the header alone, however large the directory; against
// BM_OpenScaling on the same archive.
void BM_OpenOnDemand(benchmark::State& state) {
  const auto path =
      test_support::directory_archive(kCache, static_cast<std::uint32_t>(state.range(0)));
  for (auto _ : state) {
    auto db = DatDatabase::open(path, DirectoryLoading::on_demand);
    benchmark::DoNotOptimize(db);
  }
}

// An archive in memory that counts its reads.
class CountingSource : public Source {
 public:
  explicit CountingSource(Bytes bytes) : bytes_(std::move(bytes)) {}
  std::expected<std::size_t, IoError> read_at(std::uint64_t offset,
                                              std::span<std::uint8_t> buffer) const override {
    const std::array parts{buffer};
    return read_scattered_at(offset, parts);
  }
  std::expected<std::size_t, IoError> read_scattered_at(
      std::uint64_t offset, std::span<const std::span<std::uint8_t>> parts) const override {
    ++reads;
    std::size_t total = 0;
    for (const auto part : parts) {
      const std::size_t count =
          offset + total < bytes_.size()
              ? std::min<std::size_t>(part.size(), bytes_.size() - offset - total)
              : 0;
      std::memcpy(part.data(), bytes_.data() + offset + total, count);
      total += count;
      if (count < part.size()) break;
    }
    return total;
  }
  std::expected<std::uint64_t, IoError> length() const override { return bytes_.size(); }

  mutable std::size_t reads = 0;

 private:
  Bytes bytes_;
};

// A present id at random each time, page-cached; with the reads a lookup
// makes, one a node (its two blocks adjacent), counted apart from the timing.
void BM_FindOnDemand(benchmark::State& state) {
  std::vector<std::uint32_t> ids;
  for (const auto& [id, entry] : realistic().directory()) ids.push_back(id);
  std::mt19937 random(1);
  std::shuffle(ids.begin(), ids.end(), random);
  std::size_t next = 0;
  for (auto _ : state) {
    auto entry = on_demand().find(ids[next++ % ids.size()]);
    benchmark::DoNotOptimize(entry);
  }
  auto source =
      std::make_unique<CountingSource>(file_bytes(test_support::realistic_archive(kCache, kFiles)));
  const CountingSource& counted = *source;
  const auto db = DatDatabase::open_source(std::move(source), DirectoryLoading::on_demand).value();
  counted.reads = 0;
  for (std::size_t i = 0; i < 1000; ++i) (void)db.find(ids[i]);
  state.counters["node_reads_per_lookup"] = static_cast<double>(counted.reads) / 1000;
}

// ---- decompress ----

constexpr std::size_t kContentSize = 1 << 20;

const Bytes& content(ContentKind kind) {
  static const std::array<Bytes, 3> all = {
      test_support::make_content(ContentKind::Text, kContentSize, 1),
      test_support::make_content(ContentKind::Table, kContentSize, 2),
      test_support::make_content(ContentKind::Noise, kContentSize, 3)};
  return all[static_cast<std::size_t>(kind)];
}

template <class Decode>
void decode_loop(benchmark::State& state, Decode decode) {
  std::size_t bytes = 0;
  for (auto _ : state) bytes += decode();
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

void BM_DecompressLrs(benchmark::State& state) {
  const Bytes packed =
      test_support::compress_lrs(content(static_cast<ContentKind>(state.range(0))));
  state.counters["ratio"] = static_cast<double>(packed.size()) / kContentSize;
  decode_loop(state, [&] {
    const Bytes out = utils::decompress_lrs(packed);
    benchmark::DoNotOptimize(out.data());
    return out.size();
  });
}

void BM_DecompressLrsByteAtATime(benchmark::State& state) {
  const Bytes packed =
      test_support::compress_lrs(content(static_cast<ContentKind>(state.range(0))));
  decode_loop(state, [&] {
    const Bytes out = test_support::decompress_lrs_reference(packed);
    benchmark::DoNotOptimize(out.data());
    return out.size();
  });
}

void BM_DecompressZlib(benchmark::State& state) {
  const Bytes& plain = content(static_cast<ContentKind>(state.range(0)));
  Bytes packed(compressBound(plain.size()));
  uLongf packed_size = packed.size();
  compress2(packed.data(), &packed_size, plain.data(), plain.size(), 6);
  state.counters["ratio"] = static_cast<double>(packed_size) / kContentSize;
  decode_loop(state, [&] {
    Bytes out(plain.size());
    uLongf out_size = out.size();
    uncompress(out.data(), &out_size, packed.data(), packed_size);
    benchmark::DoNotOptimize(out.data());
    return static_cast<std::size_t>(out_size);
  });
}

void BM_DecompressLz4(benchmark::State& state) {
  const Bytes& plain = content(static_cast<ContentKind>(state.range(0)));
  std::vector<char> packed(LZ4_compressBound(static_cast<int>(plain.size())));
  const int packed_size =
      LZ4_compress_default(reinterpret_cast<const char*>(plain.data()), packed.data(),
                           static_cast<int>(plain.size()), static_cast<int>(packed.size()));
  state.counters["ratio"] = static_cast<double>(packed_size) / kContentSize;
  decode_loop(state, [&] {
    Bytes out(plain.size());
    const int got = LZ4_decompress_safe(packed.data(), reinterpret_cast<char*>(out.data()),
                                        packed_size, static_cast<int>(out.size()));
    benchmark::DoNotOptimize(out.data());
    return static_cast<std::size_t>(got);
  });
}

// ---- sound tables ----

Bytes sound_table_205() {
  test_support::SoundTablePayload payload;
  for (std::uint32_t h = 0; h < 16; ++h) payload.hashes.push_back({h, {h, h, h}});
  for (std::uint32_t kind = 0; kind <= 204; ++kind) {
    test_support::SoundRecord record{kind, {}, 0};
    for (std::uint32_t e = 0; e < 1 + kind % 4; ++e) {
      record.entries.push_back({0x0A000000 + kind * 4 + e, 1.0f, 0.25f, 0.8f});
    }
    payload.sounds.push_back(record);
  }
  return test_support::encode_sound_table(payload);
}

void BM_SoundTableUnpack(benchmark::State& state) {
  const Bytes payload = sound_table_205();
  for (auto _ : state) {
    auto table = file_type::SoundTable::unpack(payload);
    benchmark::DoNotOptimize(table);
  }
}

void BM_ResolveSound205(benchmark::State& state) {
  const auto table = file_type::SoundTable::unpack(sound_table_205()).value();
  for (auto _ : state) {
    for (std::uint32_t kind = 0; kind <= 204; ++kind) {
      benchmark::DoNotOptimize(table.resolve_sound(kind));
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * 205);
}

// ---- scaling ----

void BM_OpenScaling(benchmark::State& state) {
  const auto entries = static_cast<std::uint32_t>(state.range(0));
  const auto path = test_support::directory_archive(kCache, entries);
  std::size_t heap = 0;
  for (auto _ : state) {
    const std::size_t before = mallinfo2().uordblks;
    auto db = DatDatabase::open(path);
    heap = mallinfo2().uordblks - before;
    benchmark::DoNotOptimize(db);
  }
  state.counters["ns_per_entry"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * entries,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["heap_bytes_per_entry"] = static_cast<double>(heap) / entries;
}

// 100,000 ids that a fixed multiplier of 0x9E3779B9 would put into one
// stretch of a 2^18-slot index, each insert probing past all before it;
// against as many consecutive ids.
std::vector<std::uint32_t> crafted_ids() {
  std::vector<std::uint32_t> ids;
  for (std::uint64_t group = 0; ids.size() < 100'000; ++group) {
    if ((static_cast<std::uint32_t>(group * 0x9E3779B9u) >> 14) - 12345u >= 7u) continue;
    for (std::uint32_t low = 0; low < 16 && ids.size() < 100'000; ++low) {
      ids.push_back(static_cast<std::uint32_t>(group << 4 | low));
    }
  }
  return ids;
}

void index_ids(benchmark::State& state, const std::vector<std::uint32_t>& ids) {
  for (auto _ : state) {
    Directory directory;
    directory.reserve(ids.size());
    for (std::uint32_t id : ids) directory.insert_or_assign(id, DatFileEntry{});
    benchmark::DoNotOptimize(directory);
  }
}

void BM_DirectoryCraftedIds(benchmark::State& state) { index_ids(state, crafted_ids()); }

void BM_DirectoryConsecutiveIds(benchmark::State& state) {
  std::vector<std::uint32_t> ids(100'000);
  for (std::uint32_t i = 0; i < ids.size(); ++i) ids[i] = 0x0A000000 + i;
  index_ids(state, ids);
}

void BM_GetFileThreads(benchmark::State& state) {
  static const auto entries = entries_where(false);
  std::size_t bytes = 0;
  for (auto _ : state) {
    for (std::size_t i = static_cast<std::size_t>(state.thread_index()); i < entries.size();
         i += static_cast<std::size_t>(state.threads())) {
      auto file = realistic().get_file(entries[i].id);
      bytes += file->size();
      benchmark::DoNotOptimize(file);
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

BENCHMARK(BM_Open)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenFloor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenSparse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fetch)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FetchFloor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FetchScattered)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FetchScatteredFloor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FetchMemory)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetFileOnDemand)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenOnDemand)->Arg(1'000'000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FindOnDemand)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FetchMemoryFloor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadFileInto)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetFileEveryEntry)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCold)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_OpenColdFloor)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_DecompressLrs)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecompressLrsByteAtATime)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecompressZlib)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecompressLz4)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SoundTableUnpack);
BENCHMARK(BM_ResolveSound205);
BENCHMARK(BM_OpenScaling)->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DirectoryCraftedIds)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DirectoryConsecutiveIds)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetFileThreads)
    ->Threads(1)
    ->Threads(2)
    ->Threads(4)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
