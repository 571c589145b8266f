#pragma once

#include "ReaderLog.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace KestrelTool {

/// What a host knows of a document that the container refused to open.
struct RefusedDocument {
  std::string label;           // how the host names the document to its user
  uint64_t size = 0;           // its bytes
  bool wellFormedUtf8 = false; // its text went to the container as it is
  std::string encoding;        // how its text was to be decoded, e.g. "UTF-8 (signature)"
  std::string_view setting;    // what names another code page: "--code-page NAME", a property
};

/// Why the container refused the document, as one sentence: from what the host checked and
/// what the container's file reader said.
[[nodiscard]] std::string refusalSentence(const RefusedDocument& document, const ReaderLog& reader);

/// Why the reader refused a file, as one sentence about file; empty for a message no host
/// knows. encoding describes how the text was to be decoded, setting what names another.
[[nodiscard]] std::string readerFailureSentence(const ReaderMessage& message,
                                                const std::string& file,
                                                const std::string& encoding,
                                                std::string_view setting);

} // namespace KestrelTool
