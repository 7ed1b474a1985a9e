#include "brackwater_dat/dat_file_entry.hpp"

namespace brackwater_dat {

std::string hex_id(std::uint32_t id) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text = "0x00000000";
  for (int i = 9; i >= 2; --i, id >>= 4) text[i] = kDigits[id & 0xF];
  return text;
}

}  // namespace brackwater_dat
