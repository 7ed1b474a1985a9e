#include "runner/failure.hpp"

namespace brackwater_dat::runner {

void fail(std::string message, std::source_location where) {
  throw Failure(std::move(message), where);
}

}  // namespace brackwater_dat::runner
