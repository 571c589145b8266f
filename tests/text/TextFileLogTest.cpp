// Runs as the ctest "TextFileLogMessages", under the recording logging library; elsewhere
// these tests skip.

#include "support/HostObjects.h"
#include "text/ParserUtilities.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace Kestrel;

namespace {

class TextFileLog : public testing::Test {
protected:
  void SetUp() override {
    if (!KestrelTest::isRecordingLog())
      GTEST_SKIP() << "runs under the recording logging library only";
    KestrelTest::clearRecordedLog();
  }

  bool read(const std::string& path, int32_t length) {
    BufferString text;
    return ParserUtilities::readTextFile(BufferString(path.c_str()), &host_, &text, length);
  }

  KestrelTest::TempDir dir_;
  KestrelTest::TestContainerHost host_;
};

const std::string kFunction = "Utilities|Kestrel::ParserUtilities::readTextFile|";

} // namespace

TEST_F(TextFileLog, OpenFailures) {
  const std::string missing = dir_.path() + "/missing.smi";
  EXPECT_FALSE(read(missing, -1));
  EXPECT_FALSE(read(dir_.path(), -1));
  EXPECT_EQ(
      KestrelTest::recordedLog(),
      (std::vector<std::string>{kFunction + "284|Failed to open file " + missing + "\\n",
                                kFunction + "284|Failed to open file " + dir_.path() + "\\n"}));
}

TEST_F(TextFileLog, ShortReadGivesBothCounts) {
  EXPECT_FALSE(read(dir_.write("a.smi", "<SAMI>"), 1024));
  EXPECT_EQ(KestrelTest::recordedLog(),
            std::vector<std::string>{kFunction + "309|Tried to read 1024 bytes, got 6\\n"});
}

TEST_F(TextFileLog, OversizedFileIsRefusedWithItsBufferSize) {
  const std::string path = dir_.path() + "/huge.smi";
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, off_t{1} << 31), 0);
  ::close(fd);
  EXPECT_FALSE(read(path, -1));
  EXPECT_FALSE(read(dir_.write("a.smi", "<SAMI>"), INT32_MAX));
  EXPECT_EQ(KestrelTest::recordedLog(),
            (std::vector<std::string>{kFunction + "298|Couldn't allocate 2147483649 bytes\\n",
                                      kFunction + "298|Couldn't allocate 2147483648 bytes\\n"}));
}

TEST_F(TextFileLog, RejectedTextNamesItsReason) {
  const std::string unsignedBytes = dir_.write("a.smi", "\xFF\xFE");
  const std::string empty = dir_.write("b.smi", "");
  const std::string oneByte = dir_.write("c.smi", "a");
  const std::string badLead = dir_.write("d.smi", "\xFF<SAMI>");
  for (const std::string& path : {unsignedBytes, empty, oneByte, badLead})
    EXPECT_FALSE(read(path, -1));
  EXPECT_EQ(KestrelTest::recordedLog(),
            (std::vector<std::string>{
                kFunction + "316|No text in " + unsignedBytes + ": not well-formed\\n",
                kFunction + "316|No text in " + empty + ": too short\\n",
                kFunction + "316|No text in " + oneByte + ": too short\\n",
                kFunction + "316|No text in " + badLead + ": not well-formed\\n"}));
}
