#pragma once

#include "Host.h"
#include "SubtitleText.h"
#include "kestrel/ContainerInterface.h"
#include "kestrel/StreamFormat.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace KestrelTool {

/// What the engine learns about one announced stream.
struct StreamDescription {
  Kestrel::StreamInterface* stream = nullptr; // owned by the container host
  uint64_t id = 0;
  std::string name;
  std::string language;
  std::string region;
};

/// A sample as the engine received it, with the media time the clock showed then.
struct DeliveredSample {
  const StreamDescription* stream = nullptr;
  int32_t clock = 0;
  Cue cue;
};

/// Why reading a stream stopped before its end: samples remain that start later than any
/// clock time, or a read failed (the container ran out of memory).
struct ReadShortfall {
  bool unreachable = false;
  bool failed = false;
};

/// One container driven the way the engine drives it: created through _getPlugin, asked for
/// its container interface, attached, then probed or opened; the program is selected, the
/// streams are read against a clock, and everything is given back in order at the end.
class Session {
public:
  Session(std::string preferredLanguage, CodePageSettings settings);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  /// Creates and attaches the container; on failure error() says why.
  [[nodiscard]] bool create(int32_t (*getPlugin)(Kestrel::PluginHost*, Kestrel::Plugin**));

  /// The container's probe of url: its result byte, with the formats it appended.
  uint8_t probe(const std::string& url, std::vector<Kestrel::StreamFormat>& formats);

  /// Opens url, then takes the program and lets the container announce and select streams.
  /// Returns the open's result code.
  int32_t open(const std::string& url);

  [[nodiscard]] const std::vector<StreamDescription>& streams() const { return streams_; }
  [[nodiscard]] const StreamDescription* selected() const;
  [[nodiscard]] const StreamDescription* find(uint64_t id) const;

  /// Where the stream's last subtitle ends, in milliseconds, asked of the container without
  /// reading a sample (0 for a stream without subtitles). The stream must play forwards.
  [[nodiscard]] static uint32_t lastEnd(const StreamDescription& stream);

  /// Every sample of a stream from its start, read with the clock at the latest time it can
  /// show. shortfall says why samples remain, if any do.
  std::vector<Cue> readAll(const StreamDescription& stream, ReadShortfall& shortfall);

  using Take = std::function<void(uint32_t start, uint32_t duration, std::string_view text)>;
  /// The same samples handed to take one by one, while each is still the container's: the
  /// text is the sample's own bytes (not repaired), valid only during the call. Different
  /// streams may be read on different threads at once.
  void readEach(const StreamDescription& stream, ReadShortfall& shortfall, const Take& take);

  /// One stream read as readEach reads it, a sample at a time, so that one thread can read
  /// several streams in turns. The stream gets the session's clock back when the reading ends.
  class Reading {
  public:
    Reading(Session& session, const StreamDescription& stream);
    ~Reading();
    Reading(const Reading&) = delete;
    Reading& operator=(const Reading&) = delete;

    /// Hands the next sample to take; false once there is none, shortfall saying why the
    /// stream stopped short if it did.
    bool next(const Take& take, ReadShortfall& shortfall);
    [[nodiscard]] bool ended() const { return ended_; }

  private:
    Kestrel::StreamInterface* stream_;
    Kestrel::MediaClock* sessionClock_;
    ToolClock latest_; // a clock of this reading's own, so that streams can be read side by side
    bool ended_ = false;
  };

  /// Plays streams from a clock time at a rate (thousandths; negative plays backwards).
  /// Before each clock step, wait(clockTime) may pace the clock; deliver receives every
  /// sample in the order the engine gets them. Returns why some subtitles could not be
  /// played, if any could not.
  ReadShortfall play(const std::vector<const StreamDescription*>& streams, uint32_t from,
                     bool fromGiven, int32_t rate,
                     const std::function<void(int32_t clockTime)>& wait,
                     const std::function<void(const DeliveredSample&)>& deliver);

  /// Closes the program, deletes the streams and releases the container (also done by the
  /// destructor).
  void close();

  [[nodiscard]] const std::string& error() const { return error_; }

  /// What one read of a stream gave: a sample, nothing due yet at the clock's time, the end
  /// of the stream, or a failure (the container could not make the sample).
  enum class ReadResult { Delivered, NotYet, Ended, Failed };
  /// Reads the stream's next sample into cue at the clock's time it was given.
  static ReadResult readOne(Kestrel::StreamInterface* stream, Cue& cue);

private:
  template <class Handler>
  static ReadResult readOne(Kestrel::StreamInterface* stream, const Handler& take);

  ToolPluginHost pluginHost_;
  ToolContainerHost containerHost_;
  ToolClock clock_;
  Ref<Kestrel::Plugin> plugin_;
  Kestrel::SubtitleContainerInterface* container_ = nullptr; // lives as long as plugin_
  std::vector<StreamDescription> streams_;
  std::string error_;
};

/// The path made absolute (symbolic links kept, "." and ".." removed).
[[nodiscard]] std::string absolutePath(const std::string& path);

/// "file:///abs/path" for a local path, made absolute and percent-escaped so that spaces,
/// "%", "?", "#" and non-ASCII bytes survive.
[[nodiscard]] std::string fileUrl(const std::string& path);

} // namespace KestrelTool
