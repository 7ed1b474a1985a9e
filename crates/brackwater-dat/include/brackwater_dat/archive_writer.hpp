#pragma once

#include <cstdint>
#include <expected>
#include <memory>
#include <span>
#include <string>

#include "brackwater_dat/dat_file_entry.hpp"
#include "brackwater_dat/dat_header.hpp"
#include "brackwater_dat/error.hpp"
#include "brackwater_dat/lrs_encoder.hpp"

namespace brackwater_dat {

// How a file's bytes are stored. `smaller`: LRS best where that is smaller
// than storing, else stored.
enum class Compression { store, lrs_fast, lrs_best, smaller };

struct WriterOptions {
  std::uint32_t block_size = 1024;  // 512 to 1 MiB, a multiple of 4
  DatHeader header{};      // stored-only fields are taken from here; the rest is the writer's
  bool overwrite = false;  // replace an existing file at the path
};

// Writes a new archive that every reader opens, whole or on demand: the
// directory's nodes first, breadth-first from the root (so a remote reader
// gets the root and the level below it in the first blocks), then every
// file's chain in ascending id order, each in consecutive blocks, and no
// free blocks. Files may be added in any order; their stored bytes wait in a
// temporary file beside the archive until commit, so memory holds only the
// directory (24 bytes a file) and one file at a time. Adding is not
// thread-safe.
class ArchiveWriter {
 public:
  static std::expected<ArchiveWriter, DatError> create(std::string path,
                                                       WriterOptions options = {});

  ArchiveWriter(ArchiveWriter&&) noexcept;
  ArchiveWriter& operator=(ArchiveWriter&&) noexcept;
  // Destroying an uncommitted writer removes what it wrote; nothing ever
  // appears at the path half-written.
  ~ArchiveWriter();

  // The file's bytes, compressed as asked; timestamp and version as given. An id added twice: Other
  // error.
  std::expected<void, DatError> add(std::uint32_t id, std::span<const std::uint8_t> contents,
                                    Compression compression = Compression::store,
                                    std::uint32_t timestamp = 0, std::uint32_t version = 0);
  // A stored payload exactly as another archive holds it, with its entry's flags (repacking without
  // recompressing).
  std::expected<void, DatError> add_stored(const DatFileEntry& entry,
                                           std::span<const std::uint8_t> stored);
  // Writes the directory and header, flushes to disk, and puts the archive at its path in one
  // rename.
  std::expected<void, DatError> commit();

 private:
  struct State;
  explicit ArchiveWriter(std::unique_ptr<State> state) noexcept;

  std::unique_ptr<State> state_;
};

}  // namespace brackwater_dat
