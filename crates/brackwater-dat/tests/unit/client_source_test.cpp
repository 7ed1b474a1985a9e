#include "resolve_sound_parity/client_source.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace {

TEST(ClientSource, EmbedsTheFileByteForByte) {
  std::ifstream file(CLIENT_SOURCE_PATH, std::ios::binary);
  ASSERT_TRUE(file) << CLIENT_SOURCE_PATH;
  const std::string bytes{std::istreambuf_iterator<char>(file), {}};
  ASSERT_FALSE(bytes.empty());
  EXPECT_EQ(brackwater_dat::parity::client_source(), bytes);
}

}  // namespace
