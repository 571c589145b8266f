// The logging library an engine (or our host tool) provides under the name
// libKestrel_Logging.so. The environment variable KESTREL_LOG decides where messages go:
// "stderr", or the path of a file to append to; logging is off when it is unset or empty.
// The variable is read at first use; KestrelLog_configure reads it again and
// KestrelLog_close switches logging off.
//
// Each message becomes one line: "<category> <function>:<line>: <text>", a newline added
// when the text does not end with one. A program that loads the library itself may also
// watch the messages (LogObserver.h).
//
// No entry point throws into its caller: a message that can't be formatted for want of
// memory is dropped.

#include "LogObserver.h"
#include "kestrel/Logging.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#define KESTREL_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

class Destination {
public:
  static Destination& instance() {
    // Never destroyed: a plug-in may still log while the process unloads.
    static Destination* const destination = new Destination();
    return *destination;
  }

  void configure() {
    std::lock_guard<std::mutex> guard(mutex_);
    closeLocked();
    const char* target = std::getenv("KESTREL_LOG");
    if (target == nullptr || *target == '\0')
      return;
    if (std::strcmp(target, "stderr") == 0) {
      out_ = stderr;
    } else {
      out_ = std::fopen(target, "a");
      if (out_ == nullptr)
        return; // an unwritable destination leaves logging off
      ownsFile_ = true;
    }
    enabled_.store(true);
  }

  void close() {
    std::lock_guard<std::mutex> guard(mutex_);
    closeLocked();
  }

  [[nodiscard]] bool isEnabled() const { return enabled_.load() || observed_.load(); }

  void observe(KestrelLogObserverFn observer, void* context, const char* function) {
    // The name is copied before the lock: a copy that fails changes nothing.
    std::string only = function != nullptr ? function : "";
    std::lock_guard<std::mutex> guard(mutex_);
    observer_ = observer;
    context_ = context;
    observedFunction_ = std::move(only);
    observed_.store(observer != nullptr);
  }

  void write(const char* category, const char* function, int32_t line, const char* format,
             va_list args) {
    if (!isEnabled() || format == nullptr)
      return;
    if (!enabled_.load() && !wanted(function))
      return; // only watched, and not this message: nothing to format
    va_list measure;
    va_copy(measure, args);
    const int needed = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (needed < 0)
      return;
    std::vector<char> text(static_cast<std::size_t>(needed) + 1);
    std::vsnprintf(text.data(), text.size(), format, args);
    const bool endsLine = needed > 0 && text[static_cast<std::size_t>(needed) - 1] == '\n';

    std::lock_guard<std::mutex> guard(mutex_);
    if (observer_ != nullptr && wantedLocked(function))
      observer_(context_, category, function, line, text.data());
    if (out_ == nullptr)
      return;
    std::fprintf(out_, "%s %s:%d: %s%s", category != nullptr ? category : "-",
                 function != nullptr ? function : "-", static_cast<int>(line), text.data(),
                 endsLine ? "" : "\n");
    std::fflush(out_);
  }

private:
  Destination() { configure(); }

  bool wanted(const char* function) {
    std::lock_guard<std::mutex> guard(mutex_);
    return observer_ != nullptr && wantedLocked(function);
  }
  bool wantedLocked(const char* function) const {
    return observedFunction_.empty() ||
           (function != nullptr && observedFunction_ == std::string_view(function));
  }

  void closeLocked() {
    enabled_.store(false);
    if (ownsFile_ && out_ != nullptr)
      std::fclose(out_);
    out_ = nullptr;
    ownsFile_ = false;
  }

  std::mutex mutex_;
  std::atomic<bool> enabled_{false};
  std::atomic<bool> observed_{false};
  KestrelLogObserverFn observer_ = nullptr;
  void* context_ = nullptr;
  std::string observedFunction_; // empty: every function
  FILE* out_ = nullptr;
  bool ownsFile_ = false;
};

} // namespace

// Each entry point catches everything: out of memory (the message, or the destination
// object, can't be had) or a lock that can't be taken, the call does nothing.

KESTREL_EXPORT void KestrelLog_configure(void) {
  try {
    Destination::instance().configure();
  } catch (...) {
  }
}

KESTREL_EXPORT void KestrelLog_close(void) {
  try {
    Destination::instance().close();
  } catch (...) {
  }
}

KESTREL_EXPORT uint8_t KestrelLog_isEnabled(void) {
  try {
    return Destination::instance().isEnabled() ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

KESTREL_EXPORT void KestrelLog_write(const char* category, const char* function, int32_t line,
                                     const char* format, va_list args) {
  try {
    Destination::instance().write(category, function, line, format, args);
  } catch (...) {
  }
}

KESTREL_EXPORT void KestrelLog_observe(KestrelLogObserverFn observer, void* context) {
  try {
    Destination::instance().observe(observer, context, nullptr);
  } catch (...) {
  }
}

KESTREL_EXPORT void KestrelLog_observeFunction(KestrelLogObserverFn observer, void* context,
                                               const char* function) {
  try {
    Destination::instance().observe(observer, context, function);
  } catch (...) {
  }
}
