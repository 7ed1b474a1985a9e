#pragma once

#include <brackwater_dat/bytes.hpp>
#include <cstdint>
#include <filesystem>
#include <vector>

namespace brackwater_dat::test_support {

// Content that compresses like the game's files do: prose-like text, binary
// tables of small records, and noise.
enum class ContentKind { Text, Table, Noise };
Bytes make_content(ContentKind kind, std::size_t size, std::uint32_t seed);

// An archive of `files` files of realistic sizes (most a few hundred bytes to a
// few KB, a few of several MB, about a third compressed), block size 1024, in
// a directory as full as a B-tree leaves it. Made once and kept in `cache`.
// With `scattered`, the same files with no chain's blocks adjacent.
std::filesystem::path realistic_archive(const std::filesystem::path& cache, std::uint32_t files,
                                        bool scattered = false);
// The same archive's image, made afresh; with `sound_tables`, it holds the
// synthetic retail archive's sound tables 0x20000001 and 0x200000A8 too.
// A `scattered_share` of n scatters one file's chain in n (the first of each
// n, so none of the large files), as a long-patched archive has some; 0 and
// `scattered` leave it out.
Bytes realistic_image(std::uint32_t files, bool scattered, bool sound_tables = false,
                      std::uint32_t scattered_share = 0);

// An archive whose `entries` directory entries all share a few small
// payloads: for measuring the directory alone.
std::filesystem::path directory_archive(const std::filesystem::path& cache, std::uint32_t entries);

// The offsets of every directory node of an archive, in walk order.
std::vector<std::uint32_t> node_offsets(const std::filesystem::path& archive);

}  // namespace brackwater_dat::test_support
