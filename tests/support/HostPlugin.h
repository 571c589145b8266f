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
// Unit tests (linking the plug-in's objects) may use support/HostObjects.h directly.
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
#include "support/HostObjects.h"

#include <cstdint>
#include <string>

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

} // namespace KestrelTest
