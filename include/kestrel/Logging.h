// SPDX-License-Identifier: MIT
#pragma once

#include <cstdarg>
#include <cstdint>

// Entry points of the engine's logging library, libKestrel_Logging.so. The plug-in looks
// them up by name at run time; a replacement library exports these four.
extern "C" {
void KestrelLog_configure(void);
void KestrelLog_close(void);
uint8_t KestrelLog_isEnabled(void);
void KestrelLog_write(const char* category, const char* function, int32_t line, const char* format,
                      va_list args);
}

namespace Kestrel {
using LogConfigureFn = void (*)();
using LogCloseFn = void (*)();
using LogIsEnabledFn = uint8_t (*)();
using LogWriteFn = void (*)(const char*, const char*, int32_t, const char*, va_list);

inline constexpr const char* kLoggingLibraryName = "libKestrel_Logging.so";
} // namespace Kestrel
