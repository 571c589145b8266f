#include "text/UCNVLibrary.h"

#include "text/IcuText.h"

#include <gtest/gtest.h>
#include <latch>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

using namespace Kestrel;
using KestrelTest::icuEncoded;
using KestrelTest::icuUtf8;
using VYDSOLD::UCNVLibrary;

namespace {

/// bytes converted into an allocator's storage (through name), and by one call over the whole
/// text (through oneCallName), that without its signature when the first drops one.
struct BothConversions {
  std::string stored;
  bool terminated = false;
  std::string oneCall;
};

std::optional<BothConversions> convertBothWays(const char* name, const char* oneCallName,
                                               const std::string& bytes, bool dropSignature) {
  BothConversions both;
  both.oneCall = convertToUtf8(oneCallName, bytes.data(), static_cast<uint32_t>(bytes.size()));
  if (dropSignature) {
    if (!both.oneCall.starts_with("\xEF\xBB\xBF"))
      ADD_FAILURE() << "the one-call text does not start with the signature";
    both.oneCall.erase(0, 3);
  }
  StringAllocator& owner = StandardAllocator<char>::instance();
  char* text = nullptr;
  uint32_t length = 0;
  if (!convertToUtf8(name, bytes.data(), static_cast<uint32_t>(bytes.size()), owner, dropSignature,
                     &text, &length))
    return std::nullopt;
  both.stored.assign(text, length);
  both.terminated = text[length] == '\0';
  owner.free(text);
  return both;
}

} // namespace

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

// The conversion into an allocator's storage goes through a small UTF-16 buffer and grows
// its output on the way: it must give what one call over the whole text gives, whatever
// falls on a buffer's edge (a surrogate pair, a lone surrogate, a double-byte character) and
// however far the text outgrows its first one and a half bytes per input byte.
TEST(ConverterBridge, ConvertsIntoStorageAsOneCallDoes) {
  const std::u16string filler(8191, u'a');
  const struct {
    const char* what;
    const char* name;
    std::string bytes;
    bool dropSignature;
  } cases[] = {
      {"three bytes out for each byte in", "windows-1252", std::string(20000, '\x80'), false},
      {"a pair across the buffer's edge", "UTF16-LE",
       icuEncoded("UTF16-LE", filler + u"\U0001F600" + filler + u"\U0001F600"), false},
      {"a lone lead surrogate at the edge and at the end", "UTF16-LE",
       icuEncoded("UTF16-LE", filler) + std::string("\x3D\xD8z\x00", 4) +
           icuEncoded("UTF16-LE", filler) + std::string("\x3D\xD8", 2),
       false},
      {"double-byte text", "windows-949",
       icuEncoded("windows-949", std::u16string(30000, u'\uD55C') + u"x"), false},
      {"a stateful signature dropped", "UTF7", "+/v8-abc", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto both = convertBothWays(c.name, c.name, c.bytes, c.dropSignature);
    ASSERT_TRUE(both);
    EXPECT_EQ(both->stored, both->oneCall);
    EXPECT_TRUE(both->terminated);
  }
  char* text = nullptr;
  uint32_t length = 7;
  EXPECT_FALSE(convertToUtf8("no-such-encoding", "abc", 3, StandardAllocator<char>::instance(),
                             false, &text, &length));
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(length, 7u);
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

// Large UTF-16 little-endian text goes to the encoder as it lies: whatever lies anywhere in
// it, the text is what one call over the whole of it gives.
TEST(ConverterBridge, LargeUtf16AsOneCallDoes) {
  constexpr std::size_t kUnits = std::size_t{1} << 20; // 2 MB of text
  const auto around = [](std::u16string middle) {
    std::u16string text(kUnits / 2 - 1, u'\uD55C');
    text += middle;
    text.resize(kUnits, u'a');
    return text;
  };
  const struct {
    const char* what;
    std::u16string text;
    bool signature;
  } cases[] = {
      {"a pair across the middle", around(u"\U0001F600"), false},
      {"a lone lead surrogate ending the first half", around(u"\xD83Dx"), false},
      {"a lone trail surrogate starting the second half", around(u"x\xDE00"), false},
      {"a signature dropped first", u"\uFEFF" + around(u"\U0001F600"), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string bytes(reinterpret_cast<const char*>(c.text.data()), 2 * c.text.size());
    const auto both = convertBothWays("UTF-16le", "UTF16-LE", bytes, c.signature);
    ASSERT_TRUE(both);
    EXPECT_TRUE(both->stored == both->oneCall);
    EXPECT_TRUE(both->terminated);
  }
}

// Large texts in other encodings go from the decoder to the encoder a buffer at a time: the
// buffers carry split characters and the output's growth as one call over the whole text
// would.
TEST(ConverterBridge, LargeTextsDecodedAsOneCallDoes) {
  std::u16string korean;
  for (int i = 0; i < 400000; ++i)
    korean += i % 7 == 0 ? u' ' : static_cast<char16_t>(u'\uAC00' + i % 11172);
  const struct {
    const char* what;
    const char* name;
    std::string bytes;
    bool dropSignature;
  } cases[] = {
      {"double-byte text", "windows-949", icuEncoded("windows-949", korean + u"x"), false},
      {"three bytes out for each byte in", "windows-1252", std::string(1200000, '\x80'), false},
      {"a signature dropped", "UTF8", "\xEF\xBB\xBF" + icuUtf8(korean), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto both = convertBothWays(c.name, c.name, c.bytes, c.dropSignature);
    ASSERT_TRUE(both);
    EXPECT_TRUE(both->stored == both->oneCall);
  }
}
