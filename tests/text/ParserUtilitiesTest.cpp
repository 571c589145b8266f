#include "text/ParserUtilities.h"

#include "kestrel/Result.h"
#include "support/HostObjects.h"
#include "text/IcuText.h"

#include <algorithm>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace Kestrel;
using KestrelTest::icuEncoded;
using KestrelTest::icuUtf8;
using Query = KestrelTest::TestContainerHost::SettingQuery;

namespace {

const std::u16string kSample = u"<SAMI>Caf\u00E9 \uD55C\uAD6D\uC5B4 \U0001F600 end";
const Query kOverrideQuery{4, "CodePage", "OverrideEmbedded"};
const Query kNameQuery{4, "CodePage", "Name"};

class TextFileReading : public testing::Test {
protected:
  /// readTextFile of a file holding bytes: the text, or nothing on failure.
  std::optional<std::string> read(std::string_view bytes, int32_t length = -1) {
    return readPath(dir_.write("subtitle.smi", bytes), length);
  }

  std::optional<std::string> readPath(const std::string& path, int32_t length = -1) {
    BufferString text("untouched");
    if (!ParserUtilities::readTextFile(BufferString(path.c_str()), &host_, &text, length)) {
      EXPECT_EQ(text, "untouched") << "the output changed on failure";
      return std::nullopt;
    }
    return std::string(text.data, static_cast<std::size_t>(text.length));
  }

  /// A file of the given size that takes no space on disk.
  std::string sparseFile(const char* name, off_t size) {
    const std::string path = dir_.path() + "/" + name;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
    return path;
  }

  KestrelTest::TempDir dir_;
  KestrelTest::TestContainerHost host_;
};

} // namespace

TEST(SignatureDetection, TableOrderAndShortData) {
  const struct {
    std::string_view bytes;
    const char* name; // null: no signature
    int32_t length;
  } cases[] = {
      {std::string_view("\x00\x00\xFE\xFF", 4), "UTF32-BE", 4},
      {std::string_view("\xFF\xFE\x00\x00", 4), "UTF32-LE", 4}, // before UTF-16 LE
      {std::string_view("\xFF\xFE\x00\x01", 4), "UTF16-LE", 2},
      {"\xFE\xFF", "UTF16-BE", 2},
      {"\xFF\xFE", "UTF16-LE", 2},
      {"\xEF\xBB\xBF<", "UTF8", 3},
      {"\x2B\x2F\x76\x38\x2D", "UTF7", 4},
      {"\x2B\x2F\x76\x39", "UTF7", 4},
      {"\x2B\x2F\x76\x2B", "UTF7", 4},
      {"\x2B\x2F\x76\x2F", "UTF7", 4},
      {"\x2B\x2F\x76\x41", nullptr, 0},
      {"\x0E\xFE\xFF", "SCSU", 3},
      {"\xFB\xEE\x28", "BOCU-1", 3},
      {"\x84\x31\x95\x33", "GB-18030", 4},
      {"\x84\x31\x95\x34", nullptr, 0},
      {"<SAMI>", nullptr, 0},
      // Shorter than a signature: nothing past the data is looked at.
      {std::string_view("\xFF\xFE\x00", 3), "UTF16-LE", 2},
      {std::string_view("\x00\x00\xFE", 3), nullptr, 0},
      {"\x2B\x2F\x76", nullptr, 0},
      {"\xEF\xBB", nullptr, 0},
      {"\xFF", nullptr, 0},
      {"", nullptr, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.bytes)));
    // The data is copied to exactly its size, followed by bytes that would complete a
    // longer signature, so a read past the size would show.
    std::string padded(c.bytes);
    padded += std::string("\x00\x00\x38", 3);
    BufferString name("unchanged");
    EXPECT_EQ(detectSignature(padded.data(), static_cast<uint32_t>(c.bytes.size()), &name),
              c.length);
    EXPECT_EQ(name, c.name != nullptr ? c.name : "unchanged");
  }
}

TEST_F(TextFileReading, EverySignatureDecidesTheEncoding) {
  // Byte-aligned signatures are skipped and the rest converted; UTF-7 and BOCU-1 files are
  // what ICU writes for U+FEFF followed by the text, since their signature is the first
  // character's state-dependent encoding.
  const struct {
    const char* encoder;
    std::string_view signature; // empty: ICU writes it as U+FEFF
  } cases[] = {
      {"UTF-32BE", std::string_view("\x00\x00\xFE\xFF", 4)},
      {"UTF-32LE", std::string_view("\xFF\xFE\x00\x00", 4)},
      {"UTF-16BE", "\xFE\xFF"},
      {"UTF-16LE", "\xFF\xFE"},
      {"UTF-8", "\xEF\xBB\xBF"},
      {"UTF-7", ""},
      {"SCSU", "\x0E\xFE\xFF"},
      {"BOCU-1", ""},
      {"GB18030", "\x84\x31\x95\x33"},
  };
  host_.overrideEmbedded = false;
  host_.codePageName = "windows-1252"; // never consulted once a signature decides
  for (const auto& c : cases) {
    SCOPED_TRACE(c.encoder);
    std::string file;
    if (c.signature.empty()) {
      file = icuEncoded(c.encoder, u"\uFEFF" + kSample);
    } else {
      file = std::string(c.signature) + icuEncoded(c.encoder, kSample);
      ASSERT_EQ(icuEncoded(c.encoder, u"\uFEFF").substr(0, c.signature.size()), c.signature);
    }
    host_.clearRecords();
    EXPECT_EQ(read(file), icuUtf8(kSample));
    EXPECT_EQ(host_.settingQueries(), std::vector<Query>{kOverrideQuery});
  }
}

TEST_F(TextFileReading, StatefulSignaturesKeepTheFirstCharacter) {
  // A UTF-7 signature whose fourth byte already carries bits of the next character, and a
  // BOCU-1 text whose first character is encoded relative to U+FEFF.
  host_.overrideEmbedded = false;
  for (const char* encoder : {"UTF-7", "BOCU-1"}) {
    SCOPED_TRACE(encoder);
    const std::u16string text = u"\uD55C\uAD6D <p>";
    const std::string file = icuEncoded(encoder, u"\uFEFF" + text);
    EXPECT_EQ(read(file), icuUtf8(text));
  }
  // "+/v8-" is U+FEFF closed by '-': the dash belongs to the signature's encoding.
  EXPECT_EQ(read("+/v8-<SAMI>"), "<SAMI>");
}

TEST_F(TextFileReading, OverrideEmbeddedAndNameCombinations) {
  const std::string utf16 = std::string("\xFF\xFE", 2) + icuEncoded("UTF-16LE", kSample);
  const struct {
    const char* name;
    std::optional<bool> overrideEmbedded;
    std::optional<std::string> codePage;
    std::optional<std::string> out;
    std::vector<Query> queries;
  } cases[] = {
      {"signature decides", false, std::nullopt, icuUtf8(kSample), {kOverrideQuery}},
      {"override: the signature goes to the converter",
       true,
       "UTF16-LE",
       icuUtf8(u"\uFEFF" + kSample),
       {kOverrideQuery, kNameQuery}},
      {"override without a name: raw bytes, FF is no lead byte",
       true,
       std::nullopt,
       std::nullopt,
       {kOverrideQuery, kNameQuery}},
      {"no override answer counts as override",
       std::nullopt,
       "UTF16-LE",
       icuUtf8(u"\uFEFF" + kSample),
       {kOverrideQuery, kNameQuery}},
      {"empty name: raw bytes", true, "", std::nullopt, {kOverrideQuery, kNameQuery}},
      {"unknown converter", true, "no-such-encoding", std::nullopt, {kOverrideQuery, kNameQuery}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    host_.overrideEmbedded = c.overrideEmbedded;
    host_.codePageName = c.codePage;
    host_.clearRecords();
    EXPECT_EQ(read(utf16), c.out);
    EXPECT_EQ(host_.settingQueries(), c.queries);
  }

  // Answers of the wrong type count as absent.
  host_.overrideEmbedded = false;
  host_.codePageName = "UTF16-LE";
  host_.wrongTag = 7;
  EXPECT_EQ(read(utf16), std::nullopt);
  EXPECT_EQ(read("<SAMI>"), "<SAMI>");
}

TEST_F(TextFileReading, UnsignedTextTakesTheNamedCodePage) {
  const struct {
    const char* codePage;
    std::u16string text;
  } cases[] = {
      {"windows-949", u"<SAMI>\uD55C\uAD6D\uC5B4 \uB620"}, // U+B620 exists in CP949 only
      {"EUC-KR", u"<SAMI>\uD55C\uAD6D\uC5B4"},
      {"windows-1252", u"<SAMI>\u201CCaf\u00E9\u201D \u20AC"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.codePage);
    const std::string file = icuEncoded(c.codePage, c.text);
    host_.overrideEmbedded = false;
    host_.codePageName = c.codePage;
    EXPECT_EQ(read(file), icuUtf8(c.text));
    // Without the name, the first byte above 7F is no UTF-8 character.
    host_.codePageName.reset();
    EXPECT_EQ(read(file.substr(6)), std::nullopt);
  }
}

TEST_F(TextFileReading, RawTextAndZeroCharacters) {
  host_.overrideEmbedded = false;
  const std::string plain = "<SAMI><BODY>caf\xC3\xA9</BODY></SAMI>\r\n";
  EXPECT_EQ(read(plain), plain);
  EXPECT_EQ(host_.settingQueries(), (std::vector<Query>{kOverrideQuery, kNameQuery}));
  // Taken without conversion, zero bytes stay; a converted U+0000 ends the text.
  const std::string zeros("ab\0cd", 5);
  EXPECT_EQ(read(zeros), zeros);
  EXPECT_EQ(read(std::string("\xFF\xFE", 2) + icuEncoded("UTF-16LE", std::u16string(u"ab\0cd", 5))),
            "ab");
  // The first character decides acceptance, and one more byte must follow it.
  EXPECT_EQ(read("\xC3\xA9!"), "\xC3\xA9!");
  EXPECT_EQ(read("\xC3\xA9"), std::nullopt);
  EXPECT_EQ(read("\xE0\x80\x80!"), std::nullopt);
}

TEST_F(TextFileReading, TooLittleTextFails) {
  host_.overrideEmbedded = false;
  EXPECT_EQ(read(""), std::nullopt);
  EXPECT_EQ(read("a"), std::nullopt);
  EXPECT_EQ(read("\xEF\xBB\xBF"), std::nullopt); // a signature and nothing after it
  EXPECT_EQ(read(std::string("\xFF\xFE\x00", 3)), std::nullopt);
}

TEST_F(TextFileReading, FixedLengthReadsTheHead) {
  EXPECT_EQ(read("<SAMI> and more", 6), "<SAMI>");
  EXPECT_EQ(read("<SAMI>", 1024), std::nullopt); // shorter than asked
  EXPECT_EQ(read("<SAMI>", 0), std::nullopt);
}

TEST_F(TextFileReading, OnlyRegularFilesOpen) {
  EXPECT_EQ(readPath(dir_.path()), std::nullopt);
  EXPECT_EQ(readPath(dir_.path() + "/missing.smi"), std::nullopt);
  EXPECT_EQ(readPath("/dev/null"), std::nullopt);
  EXPECT_EQ(readPath("/dev/zero"), std::nullopt); // would never end
  EXPECT_EQ(readPath(""), std::nullopt);
  // A FIFO without a writer: a blocking open would hang this test.
  const std::string fifo = dir_.path() + "/pipe.smi";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(readPath(fifo), std::nullopt);
  EXPECT_EQ(readPath(fifo, 1024), std::nullopt);
}

TEST_F(TextFileReading, PathsInUtf8) {
  const std::string korean = "\xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4.smi";
  dir_.write(korean, "<SAMI>");
  EXPECT_EQ(readPath(dir_.path() + "/" + korean), "<SAMI>");
  // Not UTF-8: no such path, even though the OS would take these bytes.
  const std::string latin1 = "caf\xE9.smi";
  dir_.write(latin1, "<SAMI>");
  EXPECT_EQ(readPath(dir_.path() + "/" + latin1), std::nullopt);
}

TEST_F(TextFileReading, SizesBeyondThirtyTwoBitsFailBeforeAnyAllocation) {
  // 2 GiB, and one byte short of it (whose buffer of size + 1 bytes would not fit either).
  EXPECT_EQ(readPath(sparseFile("huge.smi", off_t{1} << 31)), std::nullopt);
  EXPECT_EQ(readPath(sparseFile("edge.smi", (off_t{1} << 31) - 1)), std::nullopt);
  EXPECT_EQ(readPath(sparseFile("larger.smi", off_t{5} << 32)), std::nullopt);
  const std::string small = dir_.write("small.smi", "<SAMI>");
  EXPECT_EQ(readPath(small, INT32_MAX), std::nullopt);
  EXPECT_EQ(readPath(small, -2), std::nullopt);
}

TEST_F(TextFileReading, EachFailureHasItsReason) {
  using enum ParserUtilities::TextFileFailure;
  const std::string small = dir_.write("small.smi", "<SAMI>");
  const struct {
    const char* name;
    std::string path;
    int32_t length;
    const char* codePage;
    ParserUtilities::TextFileFailure reason;
  } cases[] = {
      {"read", small, -1, nullptr, None},
      {"missing", dir_.path() + "/missing.smi", -1, nullptr, OpenFailed},
      {"directory", dir_.path(), -1, nullptr, OpenFailed},
      {"path not UTF-8", dir_.path() + "/caf\xE9.smi", -1, nullptr, OpenFailed},
      {"length beyond 32 bits", small, INT32_MAX, nullptr, TooLarge},
      {"negative length", small, -2, nullptr, TooLarge},
      {"short read", small, 1024, nullptr, ShortRead},
      {"unknown code page", small, -1, "no-such-code-page", NotDecoded},
      {"one byte", dir_.write("a.smi", "a"), -1, nullptr, TooShort},
      {"bad first byte", dir_.write("b.smi", "\xFF<SAMI>"), -1, nullptr, NotWellFormed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    host_.codePageName =
        c.codePage != nullptr ? std::optional<std::string>(c.codePage) : std::nullopt;
    BufferString text;
    auto reason = NoOutput;
    EXPECT_EQ(ParserUtilities::readTextFile(BufferString(c.path.c_str()), &host_, &text, c.length,
                                            &reason),
              c.reason == None);
    EXPECT_EQ(reason, c.reason);
  }
  auto reason = None;
  EXPECT_FALSE(
      ParserUtilities::readTextFile(BufferString(small.c_str()), &host_, nullptr, -1, &reason));
  EXPECT_EQ(reason, NoOutput);
}

TEST_F(TextFileReading, NoOutputNoHost) {
  const std::string path = dir_.write("a.smi", "<SAMI>");
  EXPECT_FALSE(ParserUtilities::readTextFile(BufferString(path.c_str()), &host_, nullptr, -1));
  EXPECT_TRUE(host_.settingQueries().empty());
  // Without a host nothing can be asked: signatures are ignored and the bytes taken as UTF-8.
  BufferString text;
  EXPECT_TRUE(ParserUtilities::readTextFile(BufferString(path.c_str()), nullptr, &text, -1));
  EXPECT_EQ(text, "<SAMI>");
}

// Converted text costs one buffer beyond the file's bytes, both from the output's allocator:
// the bytes go back once converted, the text stays with the output.
TEST_F(TextFileReading, ConvertedTextIsOneBufferOfTheOutputsAllocator) {
  struct Counting final : StringAllocator {
    char* allocate(uint32_t count) override {
      ++allocations;
      largest = std::max(largest, count);
      return new char[count];
    }
    void free(char* pointer) override {
      frees += pointer != nullptr ? 1 : 0;
      delete[] pointer;
    }
    int allocations = 0;
    int frees = 0;
    uint32_t largest = 0;
  } counting;
  const std::u16string words = u"<SAMI>\uD55C\uAD6D\uC5B4 \U0001F600";
  std::string body = icuEncoded("UTF-16LE", words);
  for (int i = 0; i < 12; ++i)
    body += body; // past the converters' own buffers
  const std::string file = std::string("\xFF\xFE", 2) + body;
  const std::string path = dir_.write("u.smi", file);
  host_.overrideEmbedded = false; // the signature decides
  {
    BufferString text(counting);
    ASSERT_TRUE(ParserUtilities::readTextFile(BufferString(path.c_str()), &host_, &text, -1));
    EXPECT_EQ(text.allocator, &counting);
    EXPECT_EQ(counting.allocations, 2); // the file's bytes, then the text
    EXPECT_EQ(counting.frees, 1);
    EXPECT_LE(counting.largest, file.size() + file.size() / 2 + 16);
    EXPECT_EQ(text.length, static_cast<int32_t>(icuUtf8(words).size() << 12));
  }
  EXPECT_EQ(counting.frees, 2);
}

TEST_F(TextFileReading, TextKeepsItsOwnAllocator) {
  const std::string path = dir_.write("a.smi", "<SAMI>");
  auto& bytes = StandardAllocator<unsigned char>::instance();
  BufferString text("old text", bytes);
  ASSERT_TRUE(ParserUtilities::readTextFile(BufferString(path.c_str()), &host_, &text, -1));
  EXPECT_EQ(text, "<SAMI>");
  EXPECT_EQ(text.length, 6);
  EXPECT_EQ(text.allocator, &bytes);
}

TEST(FileUrlToPath, AcceptedAndRefusedForms) {
  const struct {
    const char* url;
    const char* path; // null: refused
  } cases[] = {
      {"file:///tmp/a.smi", "/tmp/a.smi"},
      {"file://localhost/tmp/a.smi", "/tmp/a.smi"},
      {"FILE://LocalHost/tmp/a.smi", "/tmp/a.smi"},
      {"\xEF\xBB\xBF"
       "file:///tmp/a.smi",
       "/tmp/a.smi"},
      {"file:///tmp/my%20film%2Esmi", "/tmp/my film.smi"},
      {"file:///tmp/%ED%95%9C%EA%B5%AD.smi", "/tmp/\xED\x95\x9C\xEA\xB5\xAD.smi"},
      {"file:///tmp/\xED\x95\x9C.smi", "/tmp/\xED\x95\x9C.smi"},
      {"file:///tmp/a.smi?x=1#y", "/tmp/a.smi"},
      {"file:///tmp/a.smi#frag", "/tmp/a.smi"},
      {"file:///", "/"},
      {"http://host/a.smi", nullptr},
      {"file://server/share/a.smi", nullptr},
      {"file://localhost", nullptr},
      {"file:a.smi", nullptr},
      {"file:/tmp/a.smi", nullptr},
      {"file://", nullptr},
      {"/tmp/a.smi", nullptr},
      {"", nullptr},
      {"file:///tmp/%zz.smi", nullptr},
      {"file:///tmp/%4.smi", nullptr},
      {"file:///tmp/a%", nullptr},
      {"file:///tmp/a%00b.smi", nullptr},
      {"file:///tmp/%E9.smi", nullptr},  // escapes that are not UTF-8
      {"file:///tmp/\xFF.smi", nullptr}, // a URL that is not UTF-8
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    BufferString path("untouched");
    const int32_t result = pathFromUrl(BufferString(c.url), &path);
    EXPECT_EQ(result, c.path != nullptr ? kResultOk : kResultBadUrl);
    EXPECT_EQ(path, c.path != nullptr ? c.path : "untouched");
  }
}

TEST(FileUrlToPath, PathsUpTo259Units) {
  // 259 units of path plus the terminator fill the 260-unit buffer exactly.
  const std::string fits = "/" + std::string(258, 'a');
  BufferString path;
  EXPECT_EQ(pathFromUrl(BufferString(("file://" + fits).c_str()), &path), kResultOk);
  EXPECT_EQ(path, fits.c_str());
  EXPECT_EQ(pathFromUrl(BufferString(("file://" + fits + "a").c_str()), &path), kResultBadUrl);
  // Counted in UTF-16 units, not bytes: 2 units for a character beyond the BMP.
  const std::string emoji = "\xF0\x9F\x98\x80";
  EXPECT_EQ(pathFromUrl(BufferString(("file:///" + std::string(256, 'a') + emoji).c_str()), &path),
            kResultOk);
  EXPECT_EQ(pathFromUrl(BufferString(("file:///" + std::string(257, 'a') + emoji).c_str()), &path),
            kResultBadUrl);
}
