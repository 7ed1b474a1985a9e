#pragma once

#include <cstdint>

#include "block_chain.hpp"
#include "brackwater_dat/directory.hpp"
#include "brackwater_dat/error.hpp"

namespace brackwater_dat {

// Walks the directory tree from the node at `root_offset` (0: no tree) and
// gathers every entry; of an id met more than once, the occurrence read last
// is kept.
Result<Directory> load_directory(const BlockChain& chain, std::uint32_t root_offset);

}  // namespace brackwater_dat
