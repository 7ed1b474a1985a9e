// Writes an archive for measuring the tool outside the tests:
//
//   make_hostile_archive looping FILES LENGTH BLOCK_SIZE PATH
//                                                    files whose chains loop on one block
//   make_hostile_archive clean FILES PATH            a clean archive of FILES files
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include "support/amplifying_archives.hpp"

using namespace brackwater_dat::test_support;

namespace {

std::uint32_t number(const char* text) {
  return static_cast<std::uint32_t>(std::strtoul(text, nullptr, 10));
}

}  // namespace

int main(int argc, char** argv) {
  const std::string kind = argc > 1 ? argv[1] : "";
  brackwater_dat::Bytes image;
  const char* path = nullptr;
  if (kind == "looping" && argc == 6) {
    image = looping_files_archive(number(argv[2]), number(argv[3]), number(argv[4]));
    path = argv[5];
  } else if (kind == "clean" && argc == 4) {
    image = clean_archive(number(argv[2]));
    path = argv[3];
  } else {
    std::cerr << "usage: make_hostile_archive looping FILES LENGTH BLOCK_SIZE PATH\n"
                 "       make_hostile_archive clean FILES PATH\n";
    return 2;
  }
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()),
             static_cast<std::streamsize>(image.size()));
  return 0;
}
