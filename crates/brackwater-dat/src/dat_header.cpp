#include "brackwater_dat/dat_header.hpp"

#include "brackwater_dat/dat_file_entry.hpp"

namespace brackwater_dat {

std::vector<std::string> check_header(const DatHeader& header, std::uint64_t length) {
  std::vector<std::string> problems;
  if (header.magic != kDatMagic) {
    problems.push_back("magic is " + hex_id(header.magic) + ", not " + hex_id(kDatMagic));
  }
  // A block holds a 4-byte link and at least as many payload bytes.
  if (header.block_size < 8) {
    problems.push_back("block size " + std::to_string(header.block_size) + " is less than 8");
  }
  if (header.file_size != length) {
    problems.push_back("file_size says " + std::to_string(header.file_size) +
                       " bytes, the archive has " + std::to_string(length));
  }
  if (header.root_offset != 0 && header.root_offset >= length) {
    problems.push_back("root node " + hex_id(header.root_offset) + " lies past the archive's " +
                       std::to_string(length) + " bytes");
  }
  return problems;
}

}  // namespace brackwater_dat
