#pragma once

#include <cstdint>

// An extension of our logging library for programs that load it themselves (the host tool):
// an observer sees every message the plug-in writes, formatted, whether or not a destination
// is switched on. The plug-in knows nothing of it; it finds the library by name and logs as
// usual, and the observer makes the library report itself enabled.
extern "C" {
using KestrelLogObserverFn = void (*)(void* context, const char* category, const char* function,
                                      int32_t line, const char* text);
/// Sets the one observer (null removes it). Observers are called one message at a time, and
/// once this returns the observer set before is called no more.
void KestrelLog_observe(KestrelLogObserverFn observer, void* context);
}

namespace KestrelTool {
inline constexpr const char* kLogObserveName = "KestrelLog_observe";
using LogObserveFn = void (*)(KestrelLogObserverFn, void*);
} // namespace KestrelTool
