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
/// The same for the messages of one function alone (as the plug-in names it, e.g.
/// "Kestrel::ParserUtilities::readTextFile"); no other message is formatted for the observer.
/// A null function watches every message, as KestrelLog_observe does.
void KestrelLog_observeFunction(KestrelLogObserverFn observer, void* context, const char* function);
}

namespace KestrelTool {
inline constexpr const char* kLogObserveName = "KestrelLog_observe";
using LogObserveFn = void (*)(KestrelLogObserverFn, void*);
inline constexpr const char* kLogObserveFunctionName = "KestrelLog_observeFunction";
using LogObserveFunctionFn = void (*)(KestrelLogObserverFn, void*, const char*);
/// The library's watching entry points, each null when it does not offer them.
struct LogWatch {
  LogObserveFn observe = nullptr;
  LogObserveFunctionFn observeFunction = nullptr; // a library of ours before it had it: null
};
} // namespace KestrelTool
