#pragma once

// The tool's commands over one opened document: what each prints, exports or refuses.

#include "InputFile.h"
#include "Options.h"
#include "OutputFile.h"
#include "PluginLibrary.h"
#include "ReaderLog.h"
#include "Session.h"
#include "SubtitleText.h"

#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace KestrelTool {

// Exit codes follow the BSD sysexits convention.
constexpr int kExitNotRecognised = 1;
constexpr int kExitUsage = 64;
constexpr int kExitData = 65;
constexpr int kExitNoInput = 66;
constexpr int kExitUnavailable = 69;
constexpr int kExitCantCreate = 73;

/// Says sentence on stderr, prefixed with the tool's name, and returns code.
int fail(int code, const std::string& sentence);

/// The tool's version, the plug-in's it would load (and the converter library that one
/// loads) and the ICU the tool detects code pages with.
int printVersions(const Options& options);

/// One run of the tool: opens the file through the plug-in and carries out the command.
class Tool {
public:
  explicit Tool(const Options& options) : options_(options) {}

  int run();

private:
  int probe(Session& session, const std::string& url, const LogWatch& observe);

  /// Whether the encoding chosen holds: true unless the file's start was UTF-8 and its rest
  /// is not, in which case the choice becomes what every byte says.
  bool settleEncoding();

  /// What an open that succeeded may still have to say: a document without subtitles.
  int checkOpened(const Session& session);

  /// Why the container refused to open the file, from what the tool checked itself and what
  /// the container's file reader said.
  int refused(const std::string& url, const ReaderLog& reader);

  /// The streams the user asked for: one by --stream or --lang, otherwise all of them.
  bool chooseStreams(Session& session, std::vector<const StreamDescription*>& chosen);

  void reportShortfall(const StreamDescription& stream, const ReadShortfall& shortfall);

  int info(Session& session);

  int play(Session& session);

  int exportStreams(Session& session);

  /// A file's text in two parts, written one after the other: WebVTT's header is known only
  /// once its cues are.
  struct Rendered {
    std::string head;
    std::string body;
  };

  /// What the tool knows of a stream before reading it.
  static StreamCues describe(const Session& session, const StreamDescription& stream);

  /// Hands each sample of a stream to a callback, in order.
  using Take = Session::Take;
  using Samples = std::function<void(const Take& take)>;

  /// One stream's SubRip or WebVTT, each cue rendered straight from the container's buffer.
  /// With out, SubRip goes there in pieces as it is made and what is returned is the rest;
  /// WebVTT is returned whole (its header names the colours its cues use).
  Rendered render(const Samples& samples, OutputFile* out) const;

  /// SubRip or WebVTT of several streams into OUT: a file per stream named after it, or every
  /// stream in order into OUT itself when it is a device or a pipe. The streams are read in
  /// turns on this thread and rendered side by side, each file written by the thread that
  /// rendered it; what the tool says comes afterwards, in stream order: what reading found,
  /// then what was written. The first file that cannot be created, or written, stops the streams
  /// after it from being written.
  int exportEachStream(Session& session, const std::vector<const StreamDescription*>& streams);

  /// Room for one stream's output: a stream's cues take no more than the document's bytes
  /// and their times; pages never written are never touched.
  [[nodiscard]] size_t outputEstimate() const;

  /// Whether OUT is a device or a pipe rather than a file to name others after: anything
  /// under /dev/, or an existing file that is neither a regular file nor a directory.
  static bool isDevice(const std::string& output);

  /// "out.srt" becomes "out.en.srt" for a stream in English, or "out.3.srt" for stream 3
  /// when the language is missing or shared with another stream.
  static std::string perStreamPath(const std::string& output, const StreamCues& stream,
                                   const std::vector<StreamCues>& all);

  int write(const std::optional<std::string>& path, const Rendered& text);

  /// Writes texts one after the other to a file or device, opened once; false with the
  /// sentence saying why when it can't.
  static bool writeFile(const std::string& path, const std::vector<const Rendered*>& texts,
                        std::string& error);

  const Options& options_;
  InputFile file_;
  std::string language_;
  EncodingChoice encoding_;
  std::future<bool> restIsUtf8_; // while encoding_ is provisional
  std::string error_;
};

} // namespace KestrelTool
