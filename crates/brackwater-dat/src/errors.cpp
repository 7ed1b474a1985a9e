#include "errors.hpp"

namespace brackwater_dat {

IoError unexpected_eof() {
  return IoError::simple(IoErrorKind::UnexpectedEof, "failed to fill whole buffer");
}

}  // namespace brackwater_dat
