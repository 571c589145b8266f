#include "ReaderLog.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace KestrelTool {
namespace {

constexpr const char* kReaderFunction = "Kestrel::ParserUtilities::readTextFile";
// The reader's messages, by line.
constexpr int32_t kOpenFailed = 284;
constexpr int32_t kAllocateFailed = 298;
constexpr int32_t kShortRead = 309;
constexpr int32_t kNoText = 316;

bool endsWith(const std::string& text, const char* suffix) {
  const std::size_t length = std::strlen(suffix);
  return text.size() >= length && text.compare(text.size() - length, length, suffix) == 0;
}

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

std::string readerFailureSentence(const ReaderMessage& message, const std::string& file,
                                  const std::string& encoding) {
  switch (message.line) {
  case kOpenFailed:
    return "the container could not open " + file + ".";
  case kAllocateFailed: {
    long long bytes = 0;
    if (std::sscanf(message.text.c_str(), "Couldn't allocate %lld bytes", &bytes) != 1)
      return {};
    if (bytes <= 0)
      return "the container could not learn the size of " + file + ".";
    if (bytes > INT32_MAX)
      return file + " is too large for the container: its text must fit in 32-bit buffers.";
    return "the container ran out of memory reading " + file + " (" + std::to_string(bytes) +
           " bytes).";
  }
  case kShortRead: {
    long long wanted = 0;
    long long got = 0;
    if (std::sscanf(message.text.c_str(), "Tried to read %lld bytes, got %lld", &wanted, &got) != 2)
      return {};
    return "the container could read only " + std::to_string(got < 0 ? 0 : got) + " of the " +
           std::to_string(wanted) + " bytes of " + file + ".";
  }
  case kNoText: {
    std::string reason = message.text;
    while (!reason.empty() && reason.back() == '\n')
      reason.pop_back();
    if (endsWith(reason, ": too short"))
      return file + " holds too little text for the container: it needs at least one "
                    "character and one more byte.";
    if (endsWith(reason, ": not decoded") || endsWith(reason, ": not well-formed"))
      return "the text of " + file + " does not decode as " + encoding +
             "; name its code page with --code-page NAME.";
    return {};
  }
  default:
    return {};
  }
}

} // namespace KestrelTool
