#pragma once

#include <cstdint>
#include <string>

#include "ids.hpp"
#include "output.hpp"

namespace brackwater_dat::cli {

struct CatOptions {
  std::string archive;
  TypedId id;
  bool raw = false;
  bool force = false;
  bool on_demand = false;
  bool partial = false;     // a compressed file whose stream ends early: what decodes
  bool any_header = false;  // read a file whose header is not an archive's
};

// One file's contents, or its stored bytes, to standard output.
ExitStatus run_cat(const CatOptions& options);

}  // namespace brackwater_dat::cli
