#include "ReaderLog.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace KestrelTool {
namespace {

constexpr const char* kReaderFunction = "Kestrel::ParserUtilities::readTextFile";

} // namespace

ReaderLog::ReaderLog(LogObserveFn observe) : observe_(observe) {
  if (observe_ != nullptr)
    observe_(&ReaderLog::observe, this);
}

ReaderLog::ReaderLog(const LogWatch& watch)
    : observe_(watch.observe), observeFunction_(watch.observeFunction) {
  if (observeFunction_ != nullptr)
    observeFunction_(&ReaderLog::observe, this, kReaderFunction);
  else if (observe_ != nullptr)
    observe_(&ReaderLog::observe, this);
}

ReaderLog::~ReaderLog() {
  if (observeFunction_ != nullptr)
    observeFunction_(nullptr, nullptr, nullptr);
  else if (observe_ != nullptr)
    observe_(nullptr, nullptr);
}

void ReaderLog::observe(void* context, const char* /*category*/, const char* function, int32_t line,
                        const char* text) {
  // Called from inside the plug-in's logging call: nothing may escape.
  try {
    if (function == nullptr || std::strcmp(function, kReaderFunction) != 0)
      return;
    static_cast<ReaderLog*>(context)->last_ = ReaderMessage{line, text != nullptr ? text : ""};
  } catch (...) {
  }
}

} // namespace KestrelTool
