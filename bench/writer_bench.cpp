// Writing measured against its peers: the LRS encoder against LZ4's on the
// same content, and the tool's repack and create against cp and tar on the
// same 100,000-file archive and its extracted folder, in one process.
#include <benchmark/benchmark.h>
#include <lz4.h>
#include <sys/resource.h>

#include <brackwater_dat/lrs_encoder.hpp>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/realistic_archives.hpp"

namespace {

using namespace brackwater_dat;
using test_support::ContentKind;

const std::filesystem::path kCache = BENCH_CACHE_DIR;
const std::string kTool = BRACKWATER_DAT_PATH;
constexpr std::size_t kContentSize = 1 << 20;

const Bytes& content(ContentKind kind) {
  static const std::vector<Bytes> all = {
      test_support::make_content(ContentKind::Text, kContentSize, 1),
      test_support::make_content(ContentKind::Table, kContentSize, 2)};
  return all[static_cast<std::size_t>(kind)];
}

// Args: the content (0 text, 1 table), the level (0 fast, 1 best).
void BM_CompressLrs(benchmark::State& state) {
  const Bytes& plain = content(static_cast<ContentKind>(state.range(0)));
  const LrsLevel level = state.range(1) == 0 ? LrsLevel::fast : LrsLevel::best;
  std::size_t packed = 0;
  for (auto _ : state) {
    auto out = utils::compress_lrs(plain, level);
    packed = out->size();
    benchmark::DoNotOptimize(out->data());
  }
  state.counters["bytes_out"] = static_cast<double>(packed);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * plain.size()));
}

void BM_CompressLz4(benchmark::State& state) {
  const Bytes& plain = content(static_cast<ContentKind>(state.range(0)));
  std::vector<char> packed(LZ4_compressBound(static_cast<int>(plain.size())));
  int size = 0;
  for (auto _ : state) {
    size = LZ4_compress_default(reinterpret_cast<const char*>(plain.data()), packed.data(),
                                static_cast<int>(plain.size()), static_cast<int>(packed.size()));
    benchmark::DoNotOptimize(packed.data());
  }
  state.counters["bytes_out"] = size;
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * plain.size()));
}

std::string quoted(const std::filesystem::path& path) { return "'" + path.string() + "'"; }

// Runs a shell command per iteration, removing `output` after each; the
// largest resident size of any child so far (the tool's, beside cp's and
// tar's few MiB) is reported.
void run_each(benchmark::State& state, const std::string& command,
              const std::filesystem::path& output) {
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError(("failed: " + command).c_str());
    state.PauseTiming();
    std::filesystem::remove_all(output);
    state.ResumeTiming();
  }
  rusage usage{};
  ::getrusage(RUSAGE_CHILDREN, &usage);
  state.counters["children_peak_rss_mib"] = static_cast<double>(usage.ru_maxrss) / 1024;
}

std::filesystem::path archive() { return test_support::realistic_archive(kCache, 100'000); }

// The archive extracted once, as `create` reads it.
std::filesystem::path extracted() {
  const std::filesystem::path folder = kCache / "extracted-100000";
  const std::filesystem::path done = kCache / "extracted-100000.done";
  if (!std::filesystem::exists(done)) {
    std::filesystem::remove_all(folder);
    const std::string extract = quoted(kTool) + " extract " + quoted(archive()) + " " +
                                quoted(folder) + " --no-progress > /dev/null";
    if (std::system(extract.c_str()) != 0) std::abort();
    std::filesystem::create_directories(done);
  }
  return folder;
}

void BM_RepackKeep(benchmark::State& state) {
  const auto out = kCache / "repacked.dat";
  run_each(state,
           quoted(kTool) + " repack " + quoted(archive()) + " " + quoted(out) +
               " --no-progress > /dev/null",
           out);
}

void BM_Cp(benchmark::State& state) {
  const auto out = kCache / "copied.dat";
  run_each(state, "cp " + quoted(archive()) + " " + quoted(out), out);
}

void BM_Create(benchmark::State& state) {
  const auto out = kCache / "created.dat";
  run_each(state,
           quoted(kTool) + " create " + quoted(out) + " " + quoted(extracted()) +
               " --no-progress > /dev/null",
           out);
}

void BM_Tar(benchmark::State& state) {
  const auto out = kCache / "extracted.tar";
  run_each(state, "tar -cf " + quoted(out) + " -C " + quoted(extracted()) + " .", out);
}

BENCHMARK(BM_CompressLrs)->ArgsProduct({{0, 1}, {0, 1}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CompressLz4)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RepackKeep)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Cp)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Create)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Tar)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
