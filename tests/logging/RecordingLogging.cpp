// A logging library for tests: every message becomes one line
// "category|function|line|text" appended to the file named by KESTREL_LOG_RECORD, with '\'
// in the text written as "\\" and a newline as "\n", so that one message is one line.

#include "kestrel/Logging.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#define KESTREL_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::mutex& recordMutex() {
  static std::mutex mutex;
  return mutex;
}

std::string escaped(const char* text) {
  std::string out;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c == '\\')
      out += "\\\\";
    else if (*c == '\n')
      out += "\\n";
    else
      out += *c;
  }
  return out;
}

} // namespace

KESTREL_EXPORT void KestrelLog_configure(void) {}

KESTREL_EXPORT void KestrelLog_close(void) {}

KESTREL_EXPORT uint8_t KestrelLog_isEnabled(void) {
  const char* path = std::getenv("KESTREL_LOG_RECORD");
  return path != nullptr && *path != '\0' ? 1 : 0;
}

KESTREL_EXPORT void KestrelLog_write(const char* category, const char* function, int32_t line,
                                     const char* format, va_list args) {
  const char* path = std::getenv("KESTREL_LOG_RECORD");
  if (path == nullptr || *path == '\0' || format == nullptr)
    return;
  va_list measure;
  va_copy(measure, args);
  const int needed = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (needed < 0)
    return;
  std::vector<char> text(static_cast<std::size_t>(needed) + 1);
  std::vsnprintf(text.data(), text.size(), format, args);

  std::string record = category != nullptr ? category : "(null)";
  record += '|';
  record += function != nullptr ? function : "(null)";
  record += '|';
  record += std::to_string(line);
  record += '|';
  record += escaped(text.data());
  record += '\n';

  std::lock_guard<std::mutex> guard(recordMutex());
  // Opened per message in append mode: a test may truncate the file between messages.
  if (FILE* file = std::fopen(path, "ab")) {
    std::fwrite(record.data(), 1, record.size(), file);
    std::fclose(file);
  }
}
