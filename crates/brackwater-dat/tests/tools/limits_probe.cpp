// Runs one hostile input through the reader in a fresh process and reports
// the outcome, the time it took and the process's peak resident memory:
//
//   limits_probe SCENARIO   ->   "<outcome>\nelapsed_ms <N>\npeak_rss_kib <M>\n"
//
// Scenarios: huge-file-size, lrs-huge-prefix, sound-table-huge-count,
// cyclic-tree, deep-tree, zero-capacity-loop, and lrs-out-of-memory and
// chain-out-of-memory, which run under an address-space limit that an LRS
// output or a chain buffer cannot fit in. Those that open an archive and
// read a file run on demand when -on-demand ends the name.
#include <brackwater_dat/dat_database.hpp>
#include <brackwater_dat/file_type/sound_table.hpp>
#include <brackwater_dat/utils.hpp>
#include <chrono>
#include <fstream>
#include <iostream>
#include <string>

#include "support/archive_builder.hpp"
#include "support/process_memory.hpp"
#include "support/sound_table_builder.hpp"
#include "support/temp_dir.hpp"

using namespace brackwater_dat;
using namespace brackwater_dat::test_support;

namespace {

// How the scenario opens its archive: a name ending in -on-demand opens it
// on demand.
DirectoryLoading loading = DirectoryLoading::whole;

std::string open_and_read(const ArchiveBuilder& builder, std::uint32_t id) {
  const auto db = DatDatabase::open_memory(builder.image(), loading);
  if (!db) return debug_text(db.error());
  const auto data = db->get_file(id);
  return data ? "ok " + std::to_string(data->size()) + " bytes" : debug_text(data.error());
}

std::string run(std::string scenario) {
  if (scenario.ends_with("-on-demand")) {
    loading = DirectoryLoading::on_demand;
    scenario.erase(scenario.size() - std::string_view("-on-demand").size());
  }
  if (scenario == "huge-file-size") {
    ArchiveBuilder builder;
    builder.put_bytes((1 << 20) - 1, Bytes{0});
    const std::uint32_t first = builder.store_chain(Bytes(100, 1));
    builder.header().root_offset = builder.store_node(
        NodeSpec{.children = {}, .entries = {{0, 1, first, 0xFFFFFFFF, 0, 0}}, .count = {}});
    return open_and_read(builder, 1);
  }
  if (scenario == "lrs-huge-prefix") {
    Bytes input = {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};
    for (int i = 0; i < 1000; ++i)
      input.insert(input.end(), {0xFF, 0x01, 0x0F, 0x01, 0x0F, 0x01, 0x0F, 0x01, 0x0F, 0x01, 0x0F,
                                 0x01, 0x0F, 0x01, 0x0F, 0x01, 0x0F});
    return "ok " + std::to_string(utils::decompress_lrs(input).size()) + " bytes";
  }
  if (scenario == "sound-table-huge-count") {
    const Bytes bytes = encode_sound_table({.hash_count = 0x7FFFFFFF});
    const Bytes sounds = encode_sound_table(
        {.sounds = {SoundRecord{1, {}, 0, 0xFFFFFFFF}}, .sound_count = 0x7FFFFFFF});
    const auto a = file_type::SoundTable::unpack(bytes);
    const auto b = file_type::SoundTable::unpack(sounds);
    return (a ? std::string("ok") : debug_text(a.error())) + " / " +
           (b ? std::string("ok") : debug_text(b.error()));
  }
  if (scenario == "cyclic-tree") {
    ArchiveBuilder builder;
    const std::uint32_t root = builder.allocate_block();
    builder.allocate_block();
    NodeSpec node;
    node.children[0] = root;
    builder.write_chain(std::vector{root, root + 1024}, encode_node(node));
    builder.header().root_offset = root;
    return open_and_read(builder, 1);
  }
  if (scenario == "deep-tree") {
    constexpr std::uint32_t kDepth = 100'000, kBase = 0x1000;
    ArchiveBuilder builder;
    for (std::uint32_t k = 0; k + 1 < kDepth; ++k)
      builder.put_u32(kBase + 16 * k + 4, kBase + 16 * (k + 1));
    builder.put_bytes(kBase + 16 * kDepth + 1716, Bytes(16));
    builder.header().root_offset = kBase;
    return open_and_read(builder, 1);
  }
  if (scenario == "zero-capacity-loop") {
    ArchiveBuilder builder(4);
    builder.put_u32(0x400, 0x404);
    builder.put_u32(0x404, 0x408);
    builder.put_u32(0x408, 0x400);
    builder.header().root_offset = 0;
    const auto db = DatDatabase::open_memory(builder.image());
    if (!db) return debug_text(db.error());
    const auto data = db->read_file_data(0x400, 8);
    return data ? "ok" : debug_text(data.error());
  }
  if (scenario == "lrs-out-of-memory") {
    // A compressed file whose length prefix claims 0xFFFFFFFF bytes and whose
    // 12 MiB stream of back-references could yield 102 MiB, more than the
    // address space left to the process.
    Bytes stored = {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};
    while (stored.size() < (12u << 20)) {
      stored.insert(stored.end(), {0xFF, 0x01, 0x0F, 0x01, 0x0F, 0x01, 0x0F, 0x01, 0x0F, 0x01, 0x0F,
                                   0x01, 0x0F, 0x01, 0x0F, 0x01, 0x0F});
    }
    ArchiveBuilder builder(1 << 20);
    DatFileEntry entry{.bit_flags = 1,
                       .id = 1,
                       .offset = builder.store_chain(stored),
                       .size = static_cast<std::uint32_t>(stored.size()),
                       .timestamp = 0,
                       .version = 0};
    builder.header().root_offset =
        builder.store_node(NodeSpec{.children = {}, .entries = {entry}, .count = {}});
    const TempDir dir;
    const auto path = dir / "probe.dat";
    builder.write(path);
    stored = {};
    builder = ArchiveBuilder();
    const auto db = DatDatabase::open(path);
    std::filesystem::remove(path);
    if (!db) return debug_text(db.error());
    // Room for the stored bytes, not for what they claim to decode to.
    limit_address_space(48u << 20);
    const auto data = db->get_file(1);
    return data ? "ok " + std::to_string(data->size()) + " bytes" : debug_text(data.error());
  }
  if (scenario == "chain-out-of-memory") {
    // A stored file of 96 MiB, its chain one block whose zero link reads on
    // over a sparse file, under an address-space limit it cannot fit in.
    constexpr std::uint32_t kSize = 96u << 20;
    ArchiveBuilder builder;
    const std::uint32_t block = builder.allocate_block();
    const DatFileEntry entry{
        .bit_flags = 0, .id = 1, .offset = block, .size = kSize, .timestamp = 0, .version = 0};
    builder.header().root_offset =
        builder.store_node(NodeSpec{.children = {}, .entries = {entry}, .count = {}});
    const TempDir dir;
    const auto path = dir / "probe.dat";
    builder.write(path);
    std::filesystem::resize_file(path, std::uint64_t{block} + 4 + kSize);
    const auto db = DatDatabase::open(path);
    if (!db) {
      std::filesystem::remove(path);
      return debug_text(db.error());
    }
    limit_address_space(48u << 20);
    const auto data = db->get_file(1);
    std::filesystem::remove(path);
    return data ? "ok " + std::to_string(data->size()) + " bytes" : debug_text(data.error());
  }
  return "unknown scenario";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: " << argv[0] << " SCENARIO\n";
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  const std::string outcome = run(argv[1]);
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  std::cout << outcome << "\nelapsed_ms " << elapsed.count() << "\npeak_rss_kib "
            << peak_memory_kib() << '\n';
  return outcome == "unknown scenario" ? 2 : 0;
}
