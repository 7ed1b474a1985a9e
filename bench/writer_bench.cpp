// Writing measured against its peers: the LRS encoder against LZ4's on the
// same content, and the tool's repack and create against cp and tar on the
// same 100,000-file archive and its extracted folder, in one process.
#include <benchmark/benchmark.h>
#include <lz4.h>

#include <algorithm>
#include <brackwater_dat/lrs_encoder.hpp>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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

std::string shell_word(const std::filesystem::path& path) { return "'" + path.string() + "'"; }

// Runs a shell command per iteration under time(1), removing `output` after
// each, and reports the command's largest peak resident size.
void run_each(benchmark::State& state, const std::string& command,
              const std::filesystem::path& output) {
  const std::filesystem::path peak = kCache / "peak-rss-kib";
  const std::string timed = "/usr/bin/time -f %M -o " + shell_word(peak) + " " + command;
  long most = 0;
  for (auto _ : state) {
    if (std::system(timed.c_str()) != 0) state.SkipWithError(("failed: " + command).c_str());
    state.PauseTiming();
    long kib = 0;
    std::ifstream(peak) >> kib;
    most = std::max(most, kib);
    std::filesystem::remove_all(output);
    state.ResumeTiming();
  }
  state.counters["peak_rss_mib"] = static_cast<double>(most) / 1024;
}

std::filesystem::path archive() { return test_support::realistic_archive(kCache, 100'000); }

// The archive extracted once, as `create` reads it.
std::filesystem::path extracted() {
  const std::filesystem::path folder = kCache / "extracted-100000";
  const std::filesystem::path done = kCache / "extracted-100000.done";
  if (!std::filesystem::exists(done)) {
    std::filesystem::remove_all(folder);
    const std::string extract = shell_word(kTool) + " extract " + shell_word(archive()) + " " +
                                shell_word(folder) + " --no-progress > /dev/null";
    if (std::system(extract.c_str()) != 0) std::abort();
    std::filesystem::create_directories(done);
  }
  return folder;
}

void BM_RepackKeep(benchmark::State& state) {
  const auto out = kCache / "repacked.dat";
  run_each(state,
           shell_word(kTool) + " repack " + shell_word(archive()) + " " + shell_word(out) +
               " --no-progress > /dev/null",
           out);
}

void BM_Cp(benchmark::State& state) {
  const auto out = kCache / "copied.dat";
  run_each(state, "cp " + shell_word(archive()) + " " + shell_word(out), out);
}

void BM_Create(benchmark::State& state) {
  const auto out = kCache / "created.dat";
  run_each(state,
           shell_word(kTool) + " create " + shell_word(out) + " " + shell_word(extracted()) +
               " --no-progress > /dev/null",
           out);
}

void BM_Tar(benchmark::State& state) {
  const auto out = kCache / "extracted.tar";
  run_each(state, "tar -cf " + shell_word(out) + " -C " + shell_word(extracted()) + " .", out);
}

BENCHMARK(BM_CompressLrs)->ArgsProduct({{0, 1}, {0, 1}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CompressLz4)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RepackKeep)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Cp)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Create)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Tar)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
