#pragma once
// Archives that are small on disk but would make a reader repeat itself, and
// a clean archive of many files to set the same commands' cost against.
#include <brackwater_dat/bytes.hpp>
#include <cstdint>

namespace brackwater_dat::test_support {

// `files` files (ids 0x01000000 on) whose chains all start at one block that
// links to itself, each as long as the archive allows, in an archive of
// `length` bytes: mostly zeros past the directory, so it packs small. The
// smaller the blocks, the more often a read of a file visits that block.
Bytes looping_files_archive(std::uint32_t files, std::uint32_t length,
                            std::uint32_t block_size = 1024);

// `files` files whose chains all start at the first block of one chain that
// runs through the archive's `length` bytes, each as long as that chain:
// every file but the first is the first again.
Bytes shared_chain_archive(std::uint32_t files, std::uint32_t length);

// `files` files of 100 bytes to a few KiB on chains of their own, a third of
// them compressed, in blocks of 1024 bytes.
Bytes clean_archive(std::uint32_t files);

}  // namespace brackwater_dat::test_support
