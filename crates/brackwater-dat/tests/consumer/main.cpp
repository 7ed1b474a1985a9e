// An outside program built against the installed library.
#include <brackwater_dat/brackwater_dat.hpp>
#include <iostream>

int main() {
  if (brackwater_dat::version() != BRACKWATER_DAT_VERSION_STRING) return 1;
  std::cout << "brackwater_dat " << brackwater_dat::version() << '\n';
  return 0;
}
