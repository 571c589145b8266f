// Placeholder logging library: always disabled.
#include "kestrel/Logging.h"

#define KESTREL_EXPORT extern "C" __attribute__((visibility("default")))

KESTREL_EXPORT void KestrelLog_configure(void) {}
KESTREL_EXPORT void KestrelLog_close(void) {}
KESTREL_EXPORT uint8_t KestrelLog_isEnabled(void) { return 0; }
KESTREL_EXPORT void KestrelLog_write(const char*, const char*, int32_t, const char*, va_list) {}
