// Writes the fuzzers' seed corpus: small valid inputs of several shapes.
//
//   make_fuzz_seeds CORPUS_DIR
//
// Files go to CORPUS_DIR/{lrs,lrs_round_trip,lrs_encoder,sound_table,dat_database,tool_response}/.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "support/archive_builder.hpp"
#include "support/lrs_codec.hpp"
#include "support/realistic_archives.hpp"
#include "support/sound_table_builder.hpp"

using namespace brackwater_dat;
using namespace brackwater_dat::test_support;

namespace {

void write(const std::filesystem::path& path, ByteView bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

void write(const std::filesystem::path& path, const std::string& text) {
  write(path, ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

Bytes bytes_of(const std::string& text) { return Bytes(text.begin(), text.end()); }

SoundTablePayload small_table() {
  using file_type::SoundEntry;
  return {
      .id = 0x20000001,
      .hash_key = 7,
      .hashes = {{1, {2, 3, 4}}, {1, {5, 6, 7}}},
      .sounds = {
          {0x58, {SoundEntry{0x0A000262, 1, 0.5f, 0.8f}, SoundEntry{0x0A000263, 1, 0.5f, 1}}, 0},
          {0x46, {}, 3},
          {0x1F, {SoundEntry{0, 1, 1, 1}, SoundEntry{0x0A000519, 1, 1, 1}}, -1}}};
}

Bytes small_archive(bool nested, bool compressed, std::uint32_t block_size) {
  ArchiveBuilder builder(block_size);
  std::vector<DatFileEntry> entries;
  entries.push_back(builder.store_file(0x20000001, encode_sound_table(small_table()), compressed));
  for (std::uint32_t i = 0; i < (nested ? 5u : 2u); ++i) {
    entries.push_back(builder.store_file(0x0A000000 + i,
                                         bytes_of(std::string(40 + i * 30, 'a' + i)), i % 2 == 1,
                                         i % 2 ? ChainLayout::Scattered : ChainLayout::Contiguous));
  }
  builder.header().root_offset = builder.store_tree(entries, nested ? 2 : 61);
  return builder.image();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: " << argv[0] << " CORPUS_DIR\n";
    return 2;
  }
  const std::filesystem::path root = argv[1];

  write(root / "lrs/text", compress_lrs(bytes_of("the quick brown fox, the quick brown dog\n")));
  write(root / "lrs/run", compress_lrs(Bytes(300, 0x61)));
  write(root / "lrs/literal-then-run", Bytes{0x06, 0, 0, 0, 0x40, 0x61, 0x01, 0x03});
  write(root / "lrs/distance-past-output", Bytes{0x0A, 0, 0, 0, 0x20, 0x78, 0x79, 0x05, 0x01});
  write(root / "lrs/sound-table", compress_lrs(encode_sound_table(small_table())));

  write(root / "lrs_round_trip/text", bytes_of("the sound of the portal, the sound of the wave"));
  write(root / "lrs_round_trip/run", Bytes(300, 0x61));
  write(root / "lrs_round_trip/empty", Bytes{});
  write(root / "lrs_round_trip/sound-table", encode_sound_table(small_table()));

  write(root / "lrs_encoder/text", make_content(ContentKind::Text, 3000, 1));
  write(root / "lrs_encoder/table", make_content(ContentKind::Table, 3000, 2));
  write(root / "lrs_encoder/run", Bytes(300, 0x61));
  write(root / "lrs_encoder/empty", Bytes{});

  write(root / "sound_table/small", encode_sound_table(small_table()));
  write(root / "sound_table/empty", Bytes(16));
  write(root / "sound_table/negative-counts",
        encode_sound_table({.hash_count = -1, .sound_count = -2}));

  write(root / "dat_database/flat-stored", small_archive(false, false, 256));
  write(root / "dat_database/nested-compressed", small_archive(true, true, 256));
  write(root / "dat_database/header-only", Bytes(0x190));
  // Once divided by zero when opened: a block size of 0 under a real tree.
  {
    ArchiveBuilder builder(1024);
    const DatFileEntry file = builder.store_file(0x0A000001, bytes_of("zero block size"));
    builder.header().root_offset =
        builder.store_node(NodeSpec{.children = {}, .entries = {file}, .count = {}});
    builder.header().block_size = 0;
    write(root / "dat_database/block-size-zero", builder.image());
  }

  write(
      root / "tool_response/hit",
      std::string(
          R"({"command":"marlstone-resolve-sound","soundTableDid":"0x20000001","sound":88,"waveDid":"0x0A000262","source":"x"})"));
  write(root / "tool_response/null",
        std::string(R"({"command":"marlstone-resolve-sound","waveDid":null})"));
  write(root / "tool_response/spaced",
        std::string(
            "  {\"command\": \t\"marlstone-resolve-sound\",\"waveDid\":\xc2\xa0\"+a000262\"}\r"));
  write(root / "tool_response/quit", std::string(R"({"command":"quit"})"));
  return 0;
}
