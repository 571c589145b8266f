// The logging bridge against real libraries. The Logger loads its library once per process,
// so each case runs as a CTest entry of its own, with the library directory and the
// environment that case needs (tests.cmake).

#include "engine/LogMessages.h"
#include "engine/Logger.h"

#include <dlfcn.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The library the Logger loaded, if it is still loaded; does not load it.
void* loadedLoggingLibrary() {
  void* handle = dlopen(Kestrel::kLoggingLibraryName, RTLD_NOW | RTLD_NOLOAD);
  if (handle != nullptr)
    dlclose(handle); // drops only the reference just taken
  return handle;
}

std::string fileText(const char* path) {
  std::ifstream in(path != nullptr ? path : "", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

template <class Fn> Fn entry(void* library, const char* name) {
  return reinterpret_cast<Fn>(dlsym(library, name));
}

} // namespace

TEST(LoggerWithoutLibrary, DropsEveryMessage) {
  Kestrel::Logger* logger = Kestrel::Logger::instance();
  ASSERT_NE(logger, nullptr);
  EXPECT_FALSE(logger->isLoaded());
  KESTREL_LOG(KESTREL_LOG_OPEN_FAILED, "/missing");
  KESTREL_LOG(KESTREL_LOG_SHORT_READ, 10L, 5L);
  EXPECT_EQ(Kestrel::Logger::instance(), logger); // one logger for the process
  EXPECT_EQ(loadedLoggingLibrary(), nullptr);
}

TEST(LoggerWithoutConfigure, UnloadsTheLibraryAndWritesNothing) {
  const char* record = std::getenv("KESTREL_LOG_RECORD");
  ASSERT_NE(record, nullptr);
  // The library is there and loadable; only one entry point is missing.
  void* probe = dlopen(Kestrel::kLoggingLibraryName, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(probe, nullptr) << dlerror();
  EXPECT_EQ(dlsym(probe, "KestrelLog_configure"), nullptr);
  EXPECT_NE(dlsym(probe, "KestrelLog_write"), nullptr);
  dlclose(probe);

  Kestrel::Logger* logger = Kestrel::Logger::instance();
  ASSERT_NE(logger, nullptr);
  EXPECT_FALSE(logger->isLoaded());
  EXPECT_EQ(loadedLoggingLibrary(), nullptr);
  KESTREL_LOG(KESTREL_LOG_OPEN_FAILED, "/missing");
  EXPECT_EQ(fileText(record), "");
}

TEST(LoggerEnableSwitch, WritesOnlyWhileEnabled) {
  Kestrel::Logger* logger = Kestrel::Logger::instance();
  ASSERT_NE(logger, nullptr);
  ASSERT_TRUE(logger->isLoaded());
  void* library = loadedLoggingLibrary();
  ASSERT_NE(library, nullptr);
  auto setEnabled = entry<void (*)(uint8_t)>(library, "KestrelTestLog_setEnabled");
  auto isEnabledCalls = entry<int32_t (*)()>(library, "KestrelTestLog_isEnabledCalls");
  auto writeCalls = entry<int32_t (*)()>(library, "KestrelTestLog_writeCalls");
  auto lastMessage = entry<const char* (*)()>(library, "KestrelTestLog_lastMessage");
  ASSERT_TRUE(setEnabled && isEnabledCalls && writeCalls && lastMessage);

  setEnabled(0);
  const int32_t asked = isEnabledCalls();
  KESTREL_LOG(KESTREL_LOG_OPEN_FAILED, "/a");
  KESTREL_LOG(KESTREL_LOG_SEEKED_TO_TIME, 1000);
  EXPECT_EQ(isEnabledCalls(), asked + 2); // asked before every message
  EXPECT_EQ(writeCalls(), 0);

  setEnabled(1);
  KESTREL_LOG(KESTREL_LOG_OPEN_FAILED, "/b.smi");
  EXPECT_EQ(writeCalls(), 1);
  EXPECT_STREQ(lastMessage(),
               "Utilities|Kestrel::ParserUtilities::readTextFile|284|Failed to open file /b.smi\n");
  // Arguments for %ld travel as long, untouched by the bridge.
  KESTREL_LOG(KESTREL_LOG_SHORT_READ, 3000000000L, -1L);
  EXPECT_STREQ(lastMessage(), "Utilities|Kestrel::ParserUtilities::readTextFile|309|Tried to read "
                              "3000000000 bytes, got -1\n");
  KESTREL_LOG(KESTREL_LOG_PARSED, 2, 1000, 2500, 600);
  EXPECT_STREQ(lastMessage(),
               "Subtitle|Kestrel::SubtitleParserTemplate<class "
               "Kestrel::SAMIContainer>::OverlayStream::readStream|664|PARSED(Sub=2): "
               "timestamp=1000 duration=2500 mediatime=600");

  setEnabled(0);
  KESTREL_LOG(KESTREL_LOG_SEEKED_TO_END, "end");
  EXPECT_EQ(writeCalls(), 3);
}

TEST(LoggerShippedLibrary, AppendsFormattedLinesToTheNamedFile) {
  const char* path = std::getenv("KESTREL_LOG");
  ASSERT_NE(path, nullptr);
  Kestrel::Logger* logger = Kestrel::Logger::instance();
  ASSERT_NE(logger, nullptr);
  ASSERT_TRUE(logger->isLoaded());
  KESTREL_LOG(KESTREL_LOG_OPEN_FAILED, "/x.smi");
  KESTREL_LOG(KESTREL_LOG_SEEKED_TO_END, "beginning");
  KESTREL_LOG(KESTREL_LOG_ALLOCATE_FAILED, 42L);
  EXPECT_EQ(fileText(path),
            "Utilities Kestrel::ParserUtilities::readTextFile:284: Failed to open file /x.smi\n"
            "Container Kestrel::SubtitleParserTemplate<class "
            "Kestrel::SAMIContainer>::OverlayStream::seekStream:604: Subtitle Stream: seeked to "
            "beginning\n"
            "Utilities Kestrel::ParserUtilities::readTextFile:298: Couldn't allocate 42 bytes\n");
}

TEST(LoggerShippedLibrary, StaysSilentWithoutADestination) {
  Kestrel::Logger* logger = Kestrel::Logger::instance();
  ASSERT_NE(logger, nullptr);
  ASSERT_TRUE(logger->isLoaded());
  void* library = loadedLoggingLibrary();
  ASSERT_NE(library, nullptr);
  auto isEnabled = entry<Kestrel::LogIsEnabledFn>(library, "KestrelLog_isEnabled");
  ASSERT_NE(isEnabled, nullptr);
  EXPECT_EQ(isEnabled(), 0);
  KESTREL_LOG(KESTREL_LOG_OPEN_FAILED, "/x.smi"); // nowhere to go, and no crash
}

// The host tool watches the file reader's messages alone; the rest are not even formatted for
// it, so an open's message per subtitle costs nothing while it waits for a reason.
TEST(LoggerShippedLibrary, WatchesOneFunctionsMessagesAlone) {
  Kestrel::Logger* logger = Kestrel::Logger::instance();
  ASSERT_NE(logger, nullptr);
  ASSERT_TRUE(logger->isLoaded());
  void* library = loadedLoggingLibrary();
  ASSERT_NE(library, nullptr);
  using Observer = void (*)(void*, const char*, const char*, int32_t, const char*);
  auto observeFunction =
      entry<void (*)(Observer, void*, const char*)>(library, "KestrelLog_observeFunction");
  auto isEnabled = entry<Kestrel::LogIsEnabledFn>(library, "KestrelLog_isEnabled");
  ASSERT_NE(observeFunction, nullptr);
  ASSERT_NE(isEnabled, nullptr);
  std::vector<std::string> seen;
  const Observer keep = [](void* context, const char*, const char*, int32_t line,
                           const char* text) {
    static_cast<std::vector<std::string>*>(context)->push_back(std::to_string(line) + " " + text);
  };

  observeFunction(keep, &seen, "Kestrel::ParserUtilities::readTextFile");
  EXPECT_EQ(isEnabled(), 1);
  KESTREL_LOG(KESTREL_LOG_OPEN_FAILED, "/x.smi");
  KESTREL_LOG(KESTREL_LOG_SEEKED_TO_END, "end");
  EXPECT_EQ(seen, std::vector<std::string>{"284 Failed to open file /x.smi\n"});

  seen.clear();
  observeFunction(keep, &seen, nullptr); // every function
  KESTREL_LOG(KESTREL_LOG_SEEKED_TO_END, "end");
  EXPECT_EQ(seen, std::vector<std::string>{"604 Subtitle Stream: seeked to end"});

  observeFunction(nullptr, nullptr, nullptr);
  EXPECT_EQ(isEnabled(), 0);
  KESTREL_LOG(KESTREL_LOG_OPEN_FAILED, "/y.smi");
  EXPECT_EQ(seen.size(), 1u);
}
