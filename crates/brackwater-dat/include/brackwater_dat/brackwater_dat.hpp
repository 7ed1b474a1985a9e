#pragma once

// Everything the library offers, in one include.

#include "brackwater_dat/archive_writer.hpp"
#include "brackwater_dat/bytes.hpp"
#include "brackwater_dat/dat_database.hpp"
#include "brackwater_dat/dat_file_entry.hpp"
#include "brackwater_dat/dat_header.hpp"
#include "brackwater_dat/directory.hpp"
#include "brackwater_dat/error.hpp"
#include "brackwater_dat/file_type/sound_table.hpp"
#include "brackwater_dat/lrs_encoder.hpp"
#include "brackwater_dat/source.hpp"
#include "brackwater_dat/utils.hpp"
#include "brackwater_dat/version.hpp"
