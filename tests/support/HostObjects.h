#pragma once

// Engine objects for every test, fuzz harness and benchmark: the hosts, a clock, sources,
// temporary files and the recorded log. They use include/kestrel only, so host tests and the
// programs linking the plug-in's objects share them (usage notes in HostPlugin.h).

#include "kestrel/Kestrel.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace KestrelTest {

/// The PluginHost given to _getPlugin. Records what the plug-in tells it.
class TestPluginHost : public Kestrel::PluginHost {
public:
  enum class NoticeKind { Destroying, Destroyed };
  struct Notice {
    NoticeKind kind;
    const void* plugin; // identifies the object; never dereferenced
    bool operator==(const Notice&) const = default;
  };

  /// What checkFormat answers; 0 accepts the format.
  std::atomic<uint8_t> checkFormatAnswer{0};

  uint8_t checkFormat(const Kestrel::BufferString* format) override;
  void pluginDestroying(Kestrel::Plugin* plugin) override;
  void pluginDestroyed(Kestrel::Plugin* plugin) override;

  [[nodiscard]] std::vector<Notice> notices() const;
  /// The text of every format checkFormat was asked about, in order.
  [[nodiscard]] std::vector<std::string> checkedFormats() const;

private:
  mutable std::mutex mutex_;
  std::vector<Notice> notices_;
  std::vector<std::string> checkedFormats_;
};

/// The ContainerHost given to attach. Answers identifiers, the preferred language and the
/// two "CodePage" settings as configured, records every call, and owns the streams
/// announced to it (each once, however often it is announced), as an engine does.
class TestContainerHost : public Kestrel::ContainerHost {
public:
  struct SettingQuery {
    int32_t kind;
    std::string section;
    std::string key;
    bool operator==(const SettingQuery&) const = default;
  };
  enum class EventKind { Added, Removed, Selected };
  struct StreamEvent {
    EventKind kind;
    Kestrel::StreamInterface* stream; // Added only
    uint64_t id;                      // Added (the stream's streamId), Removed, Selected
    int32_t flag;                     // Selected only
  };

  /// Identifiers count up from firstIdentifier; the default keeps them apart from the small
  /// numbers tests use for container identifiers and counts.
  explicit TestContainerHost(uint64_t firstIdentifier = 10) : nextIdentifier_(firstIdentifier) {}
  ~TestContainerHost() override;
  TestContainerHost(const TestContainerHost&) = delete;
  TestContainerHost& operator=(const TestContainerHost&) = delete;

  // Settings, read on each getSetting. Set them before the plug-in asks. Empty means the
  // host leaves the value untouched (no value).
  std::optional<bool> overrideEmbedded;        // "CodePage"/"OverrideEmbedded", tag 1
  std::optional<std::string> codePageName;     // "CodePage"/"Name", tag 11
  std::optional<uint8_t> wrongTag;             // when set, every answer carries this tag
  std::optional<uint8_t> overrideEmbeddedByte; // raw payload byte instead of 0/1
  /// False: getSetting and newIdentifier keep no record, so an open allocates nothing here
  /// (for tests that fail each allocation in turn, and for timed loops).
  bool recordQueries = true;

  /// A faulty engine: while set, newIdentifier hands out the same identifier again.
  bool repeatIdentifiers = false;
  /// The next identifier newIdentifier hands out.
  void startIdentifiersAt(uint64_t first);
  /// Called first thing in addStream, outside the host's lock: an engine calling back into
  /// the container from there.
  std::function<void()> onAddStream;

  void setPreferredLanguage(std::string language);

  uint64_t newIdentifier() override;
  Kestrel::BufferString getPreferredLanguage() override;
  int32_t getSetting(const Kestrel::Setting* setting, Kestrel::SettingValue* value) override;
  void addStream(Kestrel::StreamInterface* stream) override;
  void removeStream(uint64_t streamId) override;
  void selectStream(uint64_t streamId, int32_t selected) override;

  [[nodiscard]] std::vector<SettingQuery> settingQueries() const;
  [[nodiscard]] std::vector<StreamEvent> streamEvents() const;
  /// The streams of every addStream, repeats included, in call order.
  [[nodiscard]] std::vector<Kestrel::StreamInterface*> added() const;
  /// The identifiers of every removeStream, in call order.
  [[nodiscard]] std::vector<uint64_t> removed() const;
  /// Every selectStream as (identifier, flag), in call order.
  [[nodiscard]] std::vector<std::pair<uint64_t, int32_t>> selected() const;
  /// How often getPreferredLanguage was called.
  [[nodiscard]] int languageQueries() const;
  /// Streams announced and not yet deleted, in announcement order.
  [[nodiscard]] std::vector<Kestrel::StreamInterface*> streams() const;
  /// The identifiers handed out so far, in order.
  [[nodiscard]] std::vector<uint64_t> issuedIdentifiers() const;
  /// Deletes every stream announced so far, through its virtual destructor.
  void deleteStreams();
  /// Forgets every record above (not the streams it owns).
  void clearRecords();

private:
  mutable std::mutex mutex_;
  uint64_t nextIdentifier_;
  std::string preferredLanguage_;
  int languageQueries_ = 0;
  std::vector<SettingQuery> settingQueries_;
  std::vector<StreamEvent> streamEvents_;
  std::vector<uint64_t> issued_;
  std::vector<Kestrel::StreamInterface*> owned_;
  // Every string answer stays alive until the host goes, so a plug-in thread still reading
  // one can never see it freed by another query.
  std::vector<std::unique_ptr<Kestrel::BufferString>> answers_;
};

/// A media clock the test moves by hand; -1 (no time yet) at first.
class TestClock : public Kestrel::MediaClock {
public:
  explicit TestClock(int32_t ms = -1) : time_(ms) {}
  void set(int32_t ms) { time_.store(ms); }
  int32_t getMediaTime() override { return time_.load(); }

private:
  std::atomic<int32_t> time_;
};

/// "file://" followed by the absolute form of path, every byte other than unreserved
/// characters and '/' written as %XX.
std::string fileUrl(const std::string& path);

/// A source as the engine describes it: the URL string and a descriptor pointing at it.
class Source {
public:
  explicit Source(std::string_view url) : url_(url.data(), static_cast<int32_t>(url.size())) {
    descriptor_.url = &url_;
  }
  Source(const Source&) = delete;
  Source& operator=(const Source&) = delete;

  Kestrel::SourceDescriptor* descriptor() { return &descriptor_; }
  const Kestrel::BufferString& url() const { return url_; }

private:
  Kestrel::BufferString url_;
  Kestrel::SourceDescriptor descriptor_;
};

/// A fresh directory under $TMPDIR (or /tmp), removed with everything in it on destruction.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  [[nodiscard]] const std::string& path() const { return path_; }
  /// Writes bytes to a file of that name in the directory; returns its path.
  std::string write(const std::string& name, std::string_view bytes);

private:
  std::string path_;
};

/// True when this process runs under the recording logging library.
bool isRecordingLog();
/// The recorded lines, oldest first; empty when not recording.
std::vector<std::string> recordedLog();
/// Empties the record file, so a test sees only its own messages.
void clearRecordedLog();

} // namespace KestrelTest
