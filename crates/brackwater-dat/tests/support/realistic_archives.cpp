#include "support/realistic_archives.hpp"

#include <algorithm>
#include <brackwater_dat/dat_database.hpp>
#include <fstream>
#include <random>
#include <string>

#include "coding.hpp"
#include "support/archive_builder.hpp"
#include "support/synthetic_retail.hpp"

namespace brackwater_dat::test_support {
namespace {

constexpr const char* kWords[] = {"the ",     "sound ",  "wave ", "table ", "portal ", "of ",
                                  "dungeon ", "a ",      "and ",  "spell ", "to ",     "fire ",
                                  "cast ",    "shield ", "up ",   "down ",  "in ",     "ambient "};

// Nodes at most this full, as a B-tree leaves them after many inserts.
constexpr std::size_t kEntriesPerNode = 45;

void write_file(const std::filesystem::path& path, const Bytes& bytes) {
  auto partial = path;
  partial += ".partial";
  std::ofstream(partial, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  std::filesystem::rename(partial, path);
}

std::size_t realistic_size(std::mt19937& random, std::uint32_t index) {
  if (index % 12500 == 7) return 2'000'000 + random() % 3'000'000;  // a few of several MB
  if (random() % 100 < 85) return 200 + random() % 2300;
  return 2500 + random() % 5500;
}

}  // namespace

Bytes make_content(ContentKind kind, std::size_t size, std::uint32_t seed) {
  std::mt19937 random(seed);  // 32-bit draws
  auto draw = [&](std::uint32_t below) { return static_cast<std::uint32_t>(random() % below); };
  Bytes out;
  out.reserve(size);
  switch (kind) {
    case ContentKind::Text:
      while (out.size() < size) {
        const std::string_view word = kWords[random() % std::size(kWords)];
        out.insert(out.end(), word.begin(), word.end());
        if (random() % 12 == 0) out.push_back('\n');
      }
      break;
    case ContentKind::Table:
      // 16-byte records: an id counting up, a type, small values, a float-ish word.
      for (std::uint32_t id = 0x0A000000 + seed % 4096; out.size() < size; ++id) {
        const std::uint32_t words[4] = {id, draw(8), draw(300), 0x3F800000u + (draw(16) << 16)};
        for (std::uint32_t word : words) {
          for (int b = 0; b < 4; ++b) out.push_back(static_cast<std::uint8_t>(word >> (8 * b)));
        }
      }
      break;
    case ContentKind::Noise:
      while (out.size() < size) out.push_back(static_cast<std::uint8_t>(random()));
      break;
  }
  out.resize(size);
  return out;
}

Bytes realistic_image(std::uint32_t files, bool scattered, bool sound_tables,
                      std::uint32_t scattered_share) {
  ArchiveBuilder builder(1024);
  std::mt19937 random(files);
  std::vector<DatFileEntry> entries;
  entries.reserve(files);
  for (std::uint32_t i = 0; i < files; ++i) {
    const auto kind = static_cast<ContentKind>(i % 3);
    const bool compressed = kind != ContentKind::Noise && random() % 2 == 0;
    const std::uint32_t id = (i % 4 == 0 ? 0x06000000 : 0x0A000000) + i;
    const bool scatter = scattered || (scattered_share != 0 && i % scattered_share == 0);
    entries.push_back(
        builder.store_file(id, make_content(kind, realistic_size(random, i), i), compressed,
                           scatter ? ChainLayout::Scattered : ChainLayout::Contiguous));
  }
  if (sound_tables) {
    const auto retail = DatDatabase::open_memory(build_synthetic_retail(RetailVariant::Good).image);
    for (const std::uint32_t table : {0x20000001u, 0x200000A8u}) {
      entries.push_back(builder.store_file(table, retail->get_file(table).value(), true));
    }
  }
  builder.header().root_offset = builder.store_tree(entries, kEntriesPerNode);
  builder.header().file_size = static_cast<std::uint32_t>(builder.size());
  return builder.image();
}

std::filesystem::path realistic_archive(const std::filesystem::path& cache, std::uint32_t files,
                                        bool scattered) {
  const auto path =
      cache / ((scattered ? "scattered-" : "realistic-") + std::to_string(files) + ".dat");
  if (std::filesystem::exists(path)) return path;
  std::filesystem::create_directories(cache);
  write_file(path, realistic_image(files, scattered));
  return path;
}

std::filesystem::path directory_archive(const std::filesystem::path& cache, std::uint32_t entries) {
  const auto path = cache / ("directory-" + std::to_string(entries) + ".dat");
  if (std::filesystem::exists(path)) return path;
  std::filesystem::create_directories(cache);
  ArchiveBuilder builder(1024);
  std::vector<DatFileEntry> shared;
  for (std::uint32_t k = 0; k < 4; ++k) {
    shared.push_back(builder.store_file(0, make_content(ContentKind::Text, 300 + 200 * k, k)));
  }
  std::vector<DatFileEntry> all(entries);
  for (std::uint32_t i = 0; i < entries; ++i) {
    all[i] = shared[i % shared.size()];
    all[i].id = 0x01000000 + i * 7;
  }
  builder.header().root_offset = builder.store_tree(all, kEntriesPerNode);
  write_file(path, builder.image());
  return path;
}

std::vector<std::uint32_t> node_offsets(const std::filesystem::path& archive) {
  std::ifstream file(archive, std::ios::binary);
  const auto read_at = [&](std::uint8_t* out, std::size_t size, std::uint32_t offset) {
    file.clear();
    file.seekg(offset);
    file.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(size));
  };
  std::uint8_t header[80];
  read_at(header, sizeof header, 0x140);
  const std::uint32_t block_size = coding::load_u32(header + 4);
  std::vector<std::uint32_t> nodes;
  std::vector<std::uint32_t> pending = {coding::load_u32(header + 32)};
  Bytes node(1716);
  std::vector<std::uint8_t> block(block_size);
  while (!pending.empty()) {
    const std::uint32_t at = pending.back();
    pending.pop_back();
    if (at == 0) continue;
    nodes.push_back(at);
    // Gather the node's chain the plain way.
    std::size_t written = 0;
    for (std::uint32_t b = at; written < node.size();) {
      read_at(block.data(), block_size, b);
      const std::size_t chunk = std::min<std::size_t>(block_size - 4, node.size() - written);
      std::copy_n(block.data() + 4, chunk, node.data() + written);
      written += chunk;
      b = coding::load_u32(block.data());
    }
    if (coding::load_u32(node.data()) == 0) continue;
    const std::uint32_t count = coding::load_u32(node.data() + 248);
    for (std::size_t j = std::min<std::uint32_t>(count, 61) + 1; j-- > 0;) {
      pending.push_back(coding::load_u32(node.data() + 4 * j));
    }
  }
  return nodes;
}

}  // namespace brackwater_dat::test_support
