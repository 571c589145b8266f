#pragma once

#include "kestrel/Logging.h"
#include "platform/SharedLibrary.h"

#include <cstdint>

namespace Kestrel {

/// The loaded logging library and its four entry points; built once by Logger.
class LoggerImpl {
public:
  virtual ~LoggerImpl();

  Platform::SharedLibrary library; // kept open for the life of the process
  LogConfigureFn configure = nullptr;
  LogCloseFn close = nullptr;
  LogIsEnabledFn isEnabled = nullptr;
  LogWriteFn write = nullptr;
};

/// Bridge to the engine's logging library, loaded by name on first use. When the library
/// or one of its entry points is missing, logging stays off for the life of the process.
class Logger {
public:
  virtual ~Logger();

  /// The process-wide logger, created on first call and never destroyed; null only when
  /// its allocation failed.
  static Logger* instance();

  /// Hands the message to the library when it is loaded and enabled. Formatting happens in
  /// the library, only for enabled messages.
  static void write(Logger* logger, const char* category, const char* function, int32_t line,
                    const char* format, ...) __attribute__((format(printf, 5, 6)));

  /// Whether write would pass a message on now: lets a caller skip work done only for
  /// the message, such as locking a sample to show its text.
  [[nodiscard]] static bool isEnabled(Logger* logger);

  [[nodiscard]] bool isLoaded() const { return impl_ != nullptr; }

private:
  Logger();
  LoggerImpl* impl_ = nullptr; // null when loading failed
};

} // namespace Kestrel
