#include "platform/File.h"

#include "container/File.h"
#include "platform/Utf.h"
#include "support/HostObjects.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace Kestrel;
using Kestrel::Platform::ReadOnlyFile;

namespace {

std::u16string wide(const std::string& path) { return utf8ToWide(path); }

} // namespace

TEST(ReadOnlyFile, ReadsSeeksAndCloses) {
  KestrelTest::TempDir dir;
  ReadOnlyFile file = ReadOnlyFile::open(wide(dir.write("a.txt", "0123456789")));
  ASSERT_TRUE(file.isOpen());
  EXPECT_EQ(file.seek(0, ReadOnlyFile::Origin::End), 10);
  EXPECT_EQ(file.seek(4, ReadOnlyFile::Origin::Start), 4);
  char buffer[16] = {};
  EXPECT_EQ(file.read(buffer, sizeof buffer), 6); // stops at the end of the file
  EXPECT_STREQ(buffer, "456789");
  EXPECT_EQ(file.read(buffer, 4), 0);
  EXPECT_EQ(file.seek(-3, ReadOnlyFile::Origin::Current), 7);
  EXPECT_EQ(file.seek(-1, ReadOnlyFile::Origin::Start), std::nullopt);

  ReadOnlyFile moved = std::move(file);
  EXPECT_FALSE(file.isOpen());
  EXPECT_TRUE(moved.isOpen());
  moved.close();
  EXPECT_FALSE(moved.isOpen());
  EXPECT_EQ(moved.read(buffer, 1), -1);
  EXPECT_EQ(moved.seek(0, ReadOnlyFile::Origin::Start), std::nullopt);
}

TEST(ReadOnlyFile, OnlyRegularFilesOpen) {
  KestrelTest::TempDir dir;
  const std::string fifo = dir.path() + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const struct {
    const char* name;
    std::u16string path;
  } cases[] = {
      {"directory", wide(dir.path())},
      {"FIFO without a writer", wide(fifo)},
      {"character device", u"/dev/zero"},
      {"missing", wide(dir.path() + "/missing")},
      {"empty", u""},
      {"lone surrogate", u"/tmp/\xD800"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(ReadOnlyFile::open(c.path).isOpen());
  }
  // The OS sees the path up to its first NUL.
  const std::string file = dir.write("b", "x");
  EXPECT_TRUE(ReadOnlyFile::open(wide(file) + std::u16string(1, u'\0') + u"junk").isOpen());
}

TEST(SourceFile, SizeKeepsThePositionAndFailsAsFour) {
  KestrelTest::TempDir dir;
  File file;
  EXPECT_EQ(file.size(), File::kUnknownSize); // nothing open
  ASSERT_EQ(file.open(wide(dir.write("\xED\x95\x9C.smi", std::string(1000, 'x')))), File::kOpened);
  EXPECT_EQ(file.size(), 1000u);
  EXPECT_EQ(file.size(), 1000u);
  EXPECT_EQ(file.open(wide(dir.write("empty.smi", ""))), File::kOpened);
  EXPECT_EQ(file.size(), 0u);
  // A failed open leaves nothing open, not even the file opened before.
  EXPECT_EQ(file.open(wide(dir.path())), File::kOpenFailed);
  EXPECT_EQ(file.size(), File::kUnknownSize);
  EXPECT_EQ(file.open(u""), File::kOpenFailed);
}
