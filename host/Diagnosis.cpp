#include "Diagnosis.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace KestrelTool {
namespace {

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

std::string refusalSentence(const RefusedDocument& document, const ReaderLog& reader) {
  const std::string& label = document.label;
  if (document.size == 0)
    return label + " is empty.";
  // Text taken as it is must hold one character and one more byte.
  if (document.wellFormedUtf8 && document.size < 2)
    return label + " holds too little text for the container: it needs at least one character "
                   "and one more byte.";
  if (reader.last()) {
    std::string sentence =
        readerFailureSentence(*reader.last(), label, document.encoding, document.setting);
    if (!sentence.empty())
      return sentence;
  }
  if (reader.watching() && !reader.last())
    // The text was read; only the scan's bound or memory can refuse it now.
    return "the container refused " + label +
           ": its subtitles would take more than sixteen times its size (style markup repeated "
           "by deeply nested elements), or more memory than there is.";
  return "the container refused " + label +
         " (the logging library that would say why is not loaded).";
}

std::string readerFailureSentence(const ReaderMessage& message, const std::string& file,
                                  const std::string& encoding, std::string_view setting) {
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
             "; name its code page with " + std::string(setting) + ".";
    return {};
  }
  default:
    return {};
  }
}

} // namespace KestrelTool
