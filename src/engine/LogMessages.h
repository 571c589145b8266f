#pragma once

// Every message the plug-in writes, in one place: category, qualified function name, line
// and format are what log readers and tests match on; never change them casually.

#define KESTREL_OVERLAY_FUNCTION(name)                                                             \
  "Kestrel::SubtitleParserTemplate<class Kestrel::SAMIContainer>::OverlayStream::" name

// clang-format off
#define KESTREL_LOG_GOT_SUBTITLE \
  "Container", "Kestrel::SAMIContainer::open", 1310, "got subtitle %s start: %d duration: %d '%s'"
#define KESTREL_LOG_SEEKED_TO_TIME \
  "Container", KESTREL_OVERLAY_FUNCTION("seekStream"), 602, "Subtitle Stream: seeked to %d"
#define KESTREL_LOG_SEEKED_TO_END \
  "Container", KESTREL_OVERLAY_FUNCTION("seekStream"), 604, "Subtitle Stream: seeked to %s"
#define KESTREL_LOG_PARSED \
  "Subtitle", KESTREL_OVERLAY_FUNCTION("readStream"), 664, \
  "PARSED(Sub=%i): timestamp=%d duration=%d mediatime=%d"
#define KESTREL_LOG_OPEN_FAILED \
  "Utilities", "Kestrel::ParserUtilities::readTextFile", 284, "Failed to open file %s\n"
#define KESTREL_LOG_ALLOCATE_FAILED \
  "Utilities", "Kestrel::ParserUtilities::readTextFile", 298, "Couldn't allocate %ld bytes\n"
#define KESTREL_LOG_SHORT_READ \
  "Utilities", "Kestrel::ParserUtilities::readTextFile", 309, "Tried to read %ld bytes, got %ld\n"
#define KESTREL_LOG_NO_TEXT \
  "Utilities", "Kestrel::ParserUtilities::readTextFile", 316, "No text in %s: %s\n"
// clang-format on

/// Writes one message of the table above with its arguments, e.g.
/// KESTREL_LOG(KESTREL_LOG_OPEN_FAILED, path.text());
/// The literals reach Logger::write unchanged, so the compiler checks the arguments.
#define KESTREL_LOG(message, ...)                                                                  \
  ::Kestrel::Logger::write(::Kestrel::Logger::instance(), message, __VA_ARGS__)
