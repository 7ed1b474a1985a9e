#pragma once

#include <brackwater_dat/dat_database.hpp>
#include <brackwater_dat/file_type/sound_table.hpp>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <source_location>

namespace brackwater_dat::parity {

// The retail portal archive: AC_BASE_PORTAL_DAT when set (and valid UTF-8),
// else the first of the two fixed install locations that exists. Reads the
// environment and the file system afresh on every call; never fails.
std::optional<std::filesystem::path> locate_retail_dat();

// The archive at `path`, or the check fails with "open retail dat: " and the
// error, as raised at `where`.
DatDatabase open_retail_dat(const std::filesystem::path& path,
                            std::source_location where = std::source_location::current());

// Sound table `table_id`, fetched and decoded afresh; or the check fails with
// "get_file 0x{:08X}: {:?}" or "unpack 0x{:08X}: {:?}", as raised at `where`.
file_type::SoundTable load_sound_table(
    const DatDatabase& db, std::uint32_t table_id,
    std::source_location where = std::source_location::current());

}  // namespace brackwater_dat::parity
