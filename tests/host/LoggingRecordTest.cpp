#include "kestrel/Logging.h"
#include "support/HostPlugin.h"

#include <cstdarg>
#include <dlfcn.h>
#include <gtest/gtest.h>

namespace {

Kestrel::LogWriteFn recordingWrite() {
  // Under the recording run, LD_LIBRARY_PATH finds the recording library by the engine's
  // name, exactly as the plug-in does.
  static void* const library = dlopen(Kestrel::kLoggingLibraryName, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr)
    return nullptr;
  return reinterpret_cast<Kestrel::LogWriteFn>(dlsym(library, "KestrelLog_write"));
}

void record(const char* category, const char* function, int32_t line, const char* format, ...) {
  va_list args;
  va_start(args, format);
  recordingWrite()(category, function, line, format, args);
  va_end(args);
}

} // namespace

TEST(RecordedLog, OneLinePerMessageWithEscapes) {
  if (!KestrelTest::isRecordingLog())
    GTEST_SKIP() << "runs under the recording logging library only";
  ASSERT_NE(recordingWrite(), nullptr);
  KestrelTest::clearRecordedLog();
  EXPECT_TRUE(KestrelTest::recordedLog().empty());

  record("Utilities", "Kestrel::ParserUtilities::readTextFile", 298,
         "Couldn't allocate %ld bytes\n", static_cast<long>(4096));
  record("Container", "f", 7, "%s|%d \\ %i", "a", -3, 12);
  const std::vector<std::string> expected = {
      "Utilities|Kestrel::ParserUtilities::readTextFile|298|Couldn't allocate 4096 bytes\\n",
      "Container|f|7|a|-3 \\\\ 12"};
  EXPECT_EQ(KestrelTest::recordedLog(), expected);

  KestrelTest::clearRecordedLog();
  record("Subtitle", "g", 1, "after clearing");
  EXPECT_EQ(KestrelTest::recordedLog(), std::vector<std::string>{"Subtitle|g|1|after clearing"});
}

TEST(RecordedLog, PluginMessagesCarryCategoryFunctionAndLine) {
  if (!KestrelTest::isRecordingLog())
    GTEST_SKIP() << "runs under the recording logging library only";
  KestrelTest::OpenedContainer c;
  ASSERT_TRUE(c.isValid());
  KestrelTest::TempDir dir;
  KestrelTest::clearRecordedLog();

  EXPECT_NE(c.openFile(dir.path() + "/missing.smi"), Kestrel::kResultOk);
  const std::vector<std::string> failed = KestrelTest::recordedLog();
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0].rfind("Utilities|Kestrel::ParserUtilities::readTextFile|284|Failed to open "
                            "file ",
                            0),
            0u)
      << failed[0];

  KestrelTest::clearRecordedLog();
  const std::string path =
      dir.write("one.smi", "<SAMI><BODY><SYNC Start=1000><P Class=ENCC>Hello</SAMI>");
  EXPECT_EQ(c.openFile(path), Kestrel::kResultOk);
  const std::vector<std::string> opened = KestrelTest::recordedLog();
  ASSERT_FALSE(opened.empty());
  EXPECT_EQ(opened[0].rfind("Container|Kestrel::SAMIContainer::open|1310|got subtitle ", 0), 0u)
      << opened[0];
}
