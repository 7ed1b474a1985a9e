// Writes an archive of realistic files and the synthetic retail archive's
// two sound tables, for the browser client's tests at full size; with
// --scattered-share N, one chain in N scattered, for the remote reads'
// benchmark:
//
//   make_realistic_archive FILES OUT [--scattered-share N]
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include "support/realistic_archives.hpp"

int main(int argc, char** argv) {
  const bool share_given = argc == 5 && std::string(argv[3]) == "--scattered-share";
  if (argc != 3 && !share_given) {
    std::cerr << "usage: " << argv[0] << " FILES OUT [--scattered-share N]\n";
    return 2;
  }
  const auto files = static_cast<std::uint32_t>(std::stoul(argv[1]));
  const auto share = share_given ? static_cast<std::uint32_t>(std::stoul(argv[4])) : 0;
  const brackwater_dat::Bytes image =
      brackwater_dat::test_support::realistic_image(files, false, true, share);
  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(image.data()),
            static_cast<std::streamsize>(image.size()));
  return out ? 0 : 1;
}
