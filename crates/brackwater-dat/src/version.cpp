#include "brackwater_dat/version.hpp"

namespace brackwater_dat {

std::string_view version() noexcept { return BRACKWATER_DAT_VERSION_STRING; }

}  // namespace brackwater_dat
