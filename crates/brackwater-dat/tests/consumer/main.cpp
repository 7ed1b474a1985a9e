// An outside program built against the installed library and its
// component for archives behind URLs.
#include <brackwater_dat/brackwater_dat.hpp>
#include <brackwater_dat/http_source.hpp>
#include <iostream>
#include <variant>

#if BRACKWATER_DAT_VERSION_NUMBER != BRACKWATER_DAT_VERSION_MAJOR * 10000 +   \
                                         BRACKWATER_DAT_VERSION_MINOR * 100 + \
                                         BRACKWATER_DAT_VERSION_PATCH
#error "BRACKWATER_DAT_VERSION_NUMBER does not spell the version"
#endif

int main() {
  if (brackwater_dat::version() != BRACKWATER_DAT_VERSION_STRING) return 1;
  const brackwater_dat::Bytes packed = {0x06, 0, 0, 0, 0x40, 0x61, 0x01, 0x03};
  if (brackwater_dat::utils::decompress_lrs(packed) != brackwater_dat::Bytes(6, 0x61)) return 2;
  const auto db = brackwater_dat::DatDatabase::open("no-such-archive.dat");
  if (db || !std::holds_alternative<brackwater_dat::DatError::PathError>(db.error().value))
    return 3;
  const auto remote = brackwater_dat::open_http_source("ftp://example.com/a.dat");
  if (remote || !brackwater_dat::is_http_url("https://example.com/a.dat")) return 4;
  std::cout << "brackwater_dat " << brackwater_dat::version() << '\n';
  return 0;
}
