#pragma once

// The test host: a small engine that loads the built plug-in with dlopen and drives it only
// through include/kestrel. Host tests (tests/host/*Test.cpp) include this header.
//
// Typical use:
//
//   KestrelTest::OpenedContainer c;                 // plug-in made, container queried,
//   ASSERT_TRUE(c.isValid());                       // host attached with id 100
//   c.containerHost.codePageName = "windows-1252";  // settings the plug-in will ask for
//   KestrelTest::TempDir dir;
//   KestrelTest::Source source(KestrelTest::fileUrl(dir.write("a.smi", "<SAMI>...")));
//   EXPECT_EQ(c.container->open(source.descriptor()), Kestrel::kResultOk);
//   auto ids = c.container->getProgramIds();
//   c.container->selectProgram(ids.head->value);
//   for (auto* stream : c.containerHost.streams()) { stream->setClock(&clock); ... }
//
// Streams announced with addStream belong to the TestContainerHost: it deletes them in
// deleteStreams() or its destructor, as an engine would. OpenedContainer deletes them before
// it releases the container.
//
// Recorded log messages: a host test registered with
//   kestrel_add_logged_host_test(NAME <ctest name> FILTER <gtest filter>)
// (in a tests/<area>/tests.cmake) runs with a recording logging library that appends one
// line per message, "category|function|line|text", to a fresh file; text is the formatted
// message with '\' written as "\\" and a newline as "\n" (two characters), so every message
// is one line. In the test:
//   if (!KestrelTest::isRecordingLog())
//     GTEST_SKIP() << "runs under the recording logging library only";
//   KestrelTest::clearRecordedLog();
//   ... drive the plug-in ...
//   EXPECT_THAT(KestrelTest::recordedLog(), Contains("Utilities|Kestrel::Parser...|284|..."));
// The plug-in loads the logging library once per process, at its first message.

#include "kestrel/Kestrel.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace KestrelTest {

/// The built plug-in, loaded once per process (RTLD_NOW | RTLD_LOCAL) and never unloaded.
class LoadedPlugin {
public:
  static LoadedPlugin& instance();

  /// Calls the plug-in's _getPlugin; -1 with *out null when the plug-in did not load.
  int32_t getPlugin(Kestrel::PluginHost* host, Kestrel::Plugin** out);
  [[nodiscard]] bool isLoaded() const { return entry_ != nullptr; }
  /// Why loading failed; empty when it did not.
  [[nodiscard]] const std::string& error() const { return error_; }

private:
  LoadedPlugin();
  using Entry = int32_t (*)(Kestrel::PluginHost*, Kestrel::Plugin**);
  void* handle_ = nullptr;
  Entry entry_ = nullptr;
  std::string error_;
};

/// Holds one reference to a plug-in object and gives it back through the object's own
/// release() on destruction.
template <class T> class Ref {
public:
  Ref() = default;
  explicit Ref(T* p) : p_(p) {}
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
  Ref& operator=(Ref&& other) noexcept {
    if (this != &other) {
      reset();
      p_ = other.p_;
      other.p_ = nullptr;
    }
    return *this;
  }
  ~Ref() { reset(); }

  /// Takes over the reference the caller holds on p.
  Ref& adopt(T* p) {
    reset();
    p_ = p;
    return *this;
  }
  /// Adds a reference of our own to p.
  Ref& retain(T* p) {
    if (p != nullptr)
      p->retain();
    reset();
    p_ = p;
    return *this;
  }
  /// Gives the reference back; returns the count release() reported, or 0 when empty.
  int32_t reset() {
    T* p = p_;
    p_ = nullptr;
    return p != nullptr ? p->release() : 0;
  }
  /// Hands the reference to the caller without releasing it.
  T* detach() {
    T* p = p_;
    p_ = nullptr;
    return p;
  }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

private:
  T* p_ = nullptr;
};

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
/// announced to it.
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

  explicit TestContainerHost(uint64_t firstIdentifier = 1) : nextIdentifier_(firstIdentifier) {}
  ~TestContainerHost() override;

  // Settings, read on each getSetting. Set them before the plug-in asks. Empty means the
  // host leaves the value untouched (no value).
  std::optional<bool> overrideEmbedded;        // "CodePage"/"OverrideEmbedded", tag 1
  std::optional<std::string> codePageName;     // "CodePage"/"Name", tag 11
  std::optional<uint8_t> wrongTag;             // when set, every answer carries this tag
  std::optional<uint8_t> overrideEmbeddedByte; // raw payload byte instead of 0/1

  void setPreferredLanguage(std::string language);

  uint64_t newIdentifier() override;
  Kestrel::BufferString getPreferredLanguage() override;
  int32_t getSetting(const Kestrel::Setting* setting, Kestrel::SettingValue* value) override;
  void addStream(Kestrel::StreamInterface* stream) override;
  void removeStream(uint64_t streamId) override;
  void selectStream(uint64_t streamId, int32_t selected) override;

  [[nodiscard]] std::vector<SettingQuery> settingQueries() const;
  [[nodiscard]] std::vector<StreamEvent> streamEvents() const;
  /// Streams announced and not yet deleted, in announcement order.
  [[nodiscard]] std::vector<Kestrel::StreamInterface*> streams() const;
  /// The identifiers handed out so far, in order.
  [[nodiscard]] std::vector<uint64_t> issuedIdentifiers() const;
  /// Deletes every stream announced so far, through its virtual destructor.
  void deleteStreams();
  void clearRecords();

private:
  mutable std::mutex mutex_;
  uint64_t nextIdentifier_;
  std::string preferredLanguage_;
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

/// A plug-in object made through LoadedPlugin with its own TestPluginHost, its container
/// interface queried, and a TestContainerHost attached with the given container id.
class OpenedContainer {
public:
  explicit OpenedContainer(uint64_t containerId = 100, uint64_t firstIdentifier = 1);
  /// Deletes the announced streams, then releases the plug-in.
  ~OpenedContainer();
  OpenedContainer(const OpenedContainer&) = delete;
  OpenedContainer& operator=(const OpenedContainer&) = delete;

  [[nodiscard]] bool isValid() const { return container != nullptr; }
  /// The same object seen through the two slots subtitle containers add.
  [[nodiscard]] Kestrel::SubtitleContainerInterface* subtitle() const {
    return static_cast<Kestrel::SubtitleContainerInterface*>(container);
  }
  /// open() on a file URL built from path.
  int32_t openFile(const std::string& path);

  TestPluginHost pluginHost;
  TestContainerHost containerHost;
  Ref<Kestrel::Plugin> plugin;
  Kestrel::ContainerInterface* container = nullptr;
};

/// True when this process runs under the recording logging library.
bool isRecordingLog();
/// The recorded lines, oldest first; empty when not recording.
std::vector<std::string> recordedLog();
/// Empties the record file, so a test sees only its own messages.
void clearRecordedLog();

} // namespace KestrelTest
