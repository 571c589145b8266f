#include "text/UCNVLibrary.h"

#include "text/IcuText.h"

#include <gtest/gtest.h>
#include <latch>
#include <memory>
#include <thread>
#include <vector>

using namespace Kestrel;
using KestrelTest::icuEncoded;
using KestrelTest::icuUtf8;
using VYDSOLD::UCNVLibrary;

TEST(ConverterBridge, LoadsTheSystemLibrary) {
  UCNVLibrary* library = UCNVLibrary::instance();
  ASSERT_NE(library, nullptr);
  EXPECT_TRUE(library->isAvailable());
  EXPECT_EQ(UCNVLibrary::instance(), library);

  UCNVLibrary::ErrorCode error = 0;
  UCNVLibrary::Converter converter = library->openConverter("no-such-encoding", &error);
  EXPECT_EQ(converter, nullptr);
  EXPECT_GT(error, 0);
}

TEST(ConverterBridge, ConvertsToUtf8) {
  const struct {
    const char* name;
    std::u16string text;
  } cases[] = {
      {"UTF16-LE", u"Caf\u00E9 \U0001F600"},         {"UTF32-BE", u"\uD55C\uAD6D\uC5B4"},
      {"windows-949", u"\uD55C\uAD6D\uC5B4 \uB620"}, {"windows-1252", u"\u201Cquoted\u201D \u20AC"},
      {"SCSU", u"\u0416\u0418\u0417\u041D\u042C"},   {"GB-18030", u"\u4E2D\u6587 \U00020000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string bytes = icuEncoded(c.name, c.text);
    EXPECT_EQ(convertToUtf8(c.name, bytes.data(), static_cast<uint32_t>(bytes.size())),
              icuUtf8(c.text));
  }
}

TEST(ConverterBridge, FailuresGiveEmptyText) {
  EXPECT_EQ(convertToUtf8(nullptr, "abc", 3), "");
  EXPECT_EQ(convertToUtf8("UTF8", nullptr, 3), "");
  EXPECT_EQ(convertToUtf8("UTF8", "abc", 0), "");
  EXPECT_EQ(convertToUtf8("no-such-encoding", "abc", 3), "");
  // Bytes invalid in the encoding come back as ICU's substitutes, not as a failure.
  EXPECT_EQ(convertToUtf8("UTF8", "a\xFF", 2), "a\xEF\xBF\xBD");
}

TEST(ConverterBridge, DecodedUnitsAreCountedAndTerminated) {
  char16_t* units = nullptr;
  uint32_t count = 99;
  ASSERT_TRUE(decodeToUtf16("UTF8", "a\xC3\xA9\xF0\x9F\x98\x80", 7, &units, &count));
  const std::unique_ptr<char16_t[]> owned(units);
  EXPECT_EQ(std::u16string(units, count), u"a\u00E9\U0001F600");
  EXPECT_EQ(units[count], u'\0');

  char* bytes = nullptr;
  uint32_t length = 99;
  ASSERT_TRUE(encodeUtf16ToUtf8("utf8", units, count, &bytes, &length));
  const std::unique_ptr<char[]> ownedBytes(bytes);
  EXPECT_EQ(std::string(bytes, length), "a\xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_EQ(bytes[length], '\0');

  // An unknown encoding: outputs cleared.
  units = reinterpret_cast<char16_t*>(&count);
  EXPECT_FALSE(decodeToUtf16("no-such-encoding", "abc", 3, &units, &count));
  EXPECT_EQ(units, nullptr);
  EXPECT_EQ(count, 0u);
}

TEST(ConverterBridge, BuffersBeyondThirtyTwoBitsAreRefused) {
  // The claimed lengths are never read: the size check comes first, outputs untouched.
  const char source[4] = "abc";
  char16_t* units = nullptr;
  uint32_t count = 7;
  EXPECT_FALSE(decodeToUtf16("UTF8", source, kMaxConvertibleBytes + 1, &units, &count));
  EXPECT_EQ(units, nullptr);
  EXPECT_EQ(count, 7u);
  const char16_t text[4] = u"abc";
  char* bytes = nullptr;
  uint32_t length = 7;
  EXPECT_FALSE(encodeUtf16ToUtf8("utf8", text, 0x40000000u, &bytes, &length));
  EXPECT_EQ(bytes, nullptr);
  EXPECT_EQ(length, 7u);
  EXPECT_EQ(convertToUtf8("UTF8", source, UINT32_MAX), "");
}

TEST(ConverterBridgeConcurrency, FirstUseFromManyThreadsYieldsOneInstance) {
  constexpr int kThreads = 8;
  std::vector<UCNVLibrary*> seen(kThreads, nullptr);
  std::vector<std::string> converted(kThreads);
  std::latch start(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      start.arrive_and_wait();
      seen[i] = UCNVLibrary::instance();
      converted[i] = convertToUtf8("UTF16-LE", "h\0i\0", 4);
    });
  }
  for (auto& thread : threads)
    thread.join();
  for (int i = 0; i < kThreads; ++i) {
    EXPECT_EQ(seen[i], seen[0]);
    EXPECT_EQ(converted[i], "hi");
  }
  EXPECT_NE(seen[0], nullptr);
}
