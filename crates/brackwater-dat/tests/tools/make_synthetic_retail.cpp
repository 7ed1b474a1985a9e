// Writes the synthetic retail portal archive and the answers its recipe gives.
//
//   make_synthetic_retail VARIANT ARCHIVE [ANSWERS]
//
// VARIANT is good, missing-swoosh-table, enchant-down-drifts,
// enchant-down-drifts-no-swoosh, ambient-plays, invalid-plays or
// truncated-shield-table. ANSWERS, when given, gets one line per compared
// table and sound kind: "0x20000001 88 0x0A000262", or "none" for no wave.
#include <cstdio>
#include <fstream>
#include <iostream>

#include "support/synthetic_retail.hpp"

using namespace brackwater_dat::test_support;

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::cerr << "usage: " << argv[0] << " VARIANT ARCHIVE [ANSWERS]\n";
    return 2;
  }
  const auto variant = parse_retail_variant(argv[1]);
  if (!variant) {
    std::cerr << "unknown variant '" << argv[1] << "'\n";
    return 2;
  }
  const SyntheticRetail retail = build_synthetic_retail(*variant);
  std::ofstream archive(argv[2], std::ios::binary | std::ios::trunc);
  archive.write(reinterpret_cast<const char*>(retail.image.data()),
                static_cast<std::streamsize>(retail.image.size()));
  if (!archive.flush()) {
    std::cerr << "cannot write " << argv[2] << '\n';
    return 1;
  }
  if (argc == 4) {
    std::ofstream answers(argv[3], std::ios::trunc);
    for (const auto& [key, wave] : retail.answers) {
      char line[64];
      if (wave) {
        std::snprintf(line, sizeof line, "0x%08X %u 0x%08X\n", key.first, key.second, *wave);
      } else {
        std::snprintf(line, sizeof line, "0x%08X %u none\n", key.first, key.second);
      }
      answers << line;
    }
    if (!answers.flush()) {
      std::cerr << "cannot write " << argv[3] << '\n';
      return 1;
    }
  }
  return 0;
}
