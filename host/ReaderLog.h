#pragma once

#include "logging/LogObserver.h"

#include <cstdint>
#include <optional>
#include <string>

namespace KestrelTool {

/// What the plug-in's file reader said about the file it was asked for.
struct ReaderMessage {
  int32_t line = 0; // the message's line number, which names it
  std::string text; // formatted
};

/// Watches the plug-in's messages through the logging library while it lives, keeping the
/// last one of the file reader. Watches nothing when observe is null (no logging library).
class ReaderLog {
public:
  explicit ReaderLog(LogObserveFn observe);
  /// Watches the file reader's messages alone when the library can, so that the plug-in's
  /// other messages cost nothing.
  explicit ReaderLog(const LogWatch& watch);
  ~ReaderLog();
  ReaderLog(const ReaderLog&) = delete;
  ReaderLog& operator=(const ReaderLog&) = delete;

  /// Whether the messages are seen: when not, the reader's silence says nothing.
  [[nodiscard]] bool watching() const { return observe_ != nullptr || observeFunction_ != nullptr; }
  /// The reader's last message, if it wrote one.
  [[nodiscard]] const std::optional<ReaderMessage>& last() const { return last_; }

private:
  static void observe(void* context, const char* category, const char* function, int32_t line,
                      const char* text);

  LogObserveFn observe_;
  LogObserveFunctionFn observeFunction_ = nullptr;
  std::optional<ReaderMessage> last_;
};

} // namespace KestrelTool
