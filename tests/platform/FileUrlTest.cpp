#include "platform/FileUrl.h"

#include <gtest/gtest.h>
#include <string>

using Kestrel::Platform::pathCreateFromUrl;

TEST(FileUrlConversion, CapacityCountsTheTerminator) {
  char16_t path[8];
  EXPECT_EQ(pathCreateFromUrl(u"file:///abcdef", path, 8), 0); // 7 units + NUL
  EXPECT_EQ(std::u16string(path), u"/abcdef");
  EXPECT_LT(pathCreateFromUrl(u"file:///abcdefg", path, 8), 0);
  // An escape counts as the character it decodes to.
  EXPECT_EQ(pathCreateFromUrl(u"file:///%61%62%63%64%65%66", path, 8), 0);
  EXPECT_EQ(std::u16string(path), u"/abcdef");
  EXPECT_LT(pathCreateFromUrl(u"file:///a", path, 0), 0);
  EXPECT_LT(pathCreateFromUrl(nullptr, path, 8), 0);
  EXPECT_LT(pathCreateFromUrl(u"file:///a", nullptr, 8), 0);
}

TEST(FileUrlConversion, SurrogatesInTheUrl) {
  char16_t path[16];
  EXPECT_EQ(pathCreateFromUrl(u"file:///\U0001F600", path, 16), 0);
  EXPECT_EQ(std::u16string(path), u"/\U0001F600");
  EXPECT_LT(pathCreateFromUrl(u"file:///\xD83D", path, 16), 0);
  EXPECT_LT(pathCreateFromUrl(u"file:///\xDE00x", path, 16), 0);
}
