#pragma once

#include <brackwater_dat/dat_database.hpp>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ids.hpp"

namespace brackwater_dat::cli {

// The archive at `path`, or none after reporting why it cannot be opened.
std::optional<DatDatabase> open_archive(const std::string& path,
                                        DirectoryLoading loading = DirectoryLoading::whole);

// One warning line when the archive's header does not look like an
// archive's (see check_header), naming what is wrong; what was read is
// still shown.
void warn_unless_archive(const DatDatabase& db, const std::string& path);

// The directory's entries sorted by id, only those of `type` when one is
// given; none after reporting why they cannot be listed.
std::optional<std::vector<DatFileEntry>> sorted_entries(
    const DatDatabase& db, std::optional<std::uint8_t> type = std::nullopt);

// Only the entries of `type` when one is given, in their order.
std::vector<DatFileEntry> of_type(std::vector<DatFileEntry> entries,
                                  std::optional<std::uint8_t> type);

// Why file `id` could not be read, for people: `error`'s display text; for an
// id not in the archive, with the id the person probably meant when they
// typed decimal digits that name a file in hex.
std::string failure_text(const DatDatabase& db, const TypedId& id, const DatError& error);

}  // namespace brackwater_dat::cli
