// A logging library whose enable switch the test turns off and on. It counts the calls it
// receives and keeps the last message, formatted as "category|function|line|text".

#include "kestrel/Logging.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

#define KESTREL_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::atomic<uint8_t> enabled{0};
std::atomic<int32_t> isEnabledCalls{0};
std::atomic<int32_t> writeCalls{0};
std::mutex lastMutex;
std::string last;

} // namespace

KESTREL_EXPORT void KestrelLog_configure(void) {}

KESTREL_EXPORT void KestrelLog_close(void) {}

KESTREL_EXPORT uint8_t KestrelLog_isEnabled(void) {
  ++isEnabledCalls;
  return enabled.load();
}

KESTREL_EXPORT void KestrelLog_write(const char* category, const char* function, int32_t line,
                                     const char* format, va_list args) {
  ++writeCalls;
  char text[512];
  std::vsnprintf(text, sizeof text, format, args);
  std::lock_guard<std::mutex> guard(lastMutex);
  last = std::string(category) + "|" + function + "|" + std::to_string(line) + "|" + text;
}

// Test controls, looked up by the test program.
KESTREL_EXPORT void KestrelTestLog_setEnabled(uint8_t value) { enabled.store(value); }
KESTREL_EXPORT int32_t KestrelTestLog_isEnabledCalls(void) { return isEnabledCalls.load(); }
KESTREL_EXPORT int32_t KestrelTestLog_writeCalls(void) { return writeCalls.load(); }
KESTREL_EXPORT const char* KestrelTestLog_lastMessage(void) {
  // Copied out by the single-threaded test right after each message.
  std::lock_guard<std::mutex> guard(lastMutex);
  return last.c_str();
}
