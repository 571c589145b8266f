// A logging library that lacks KestrelLog_configure: the plug-in must refuse it. Its other
// entry points would write to the file named by KESTREL_LOG_RECORD, so any message that
// got through would show.

#include "kestrel/Logging.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#define KESTREL_EXPORT extern "C" __attribute__((visibility("default")))

KESTREL_EXPORT void KestrelLog_close(void) {}

KESTREL_EXPORT uint8_t KestrelLog_isEnabled(void) { return 1; }

KESTREL_EXPORT void KestrelLog_write(const char* category, const char* function, int32_t line,
                                     const char* format, va_list args) {
  const char* path = std::getenv("KESTREL_LOG_RECORD");
  if (path == nullptr)
    return;
  if (FILE* file = std::fopen(path, "a")) {
    std::fprintf(file, "%s|%s|%d|", category, function, static_cast<int>(line));
    std::vfprintf(file, format, args);
    std::fputc('\n', file);
    std::fclose(file);
  }
}
