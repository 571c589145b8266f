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
// Unit tests, fuzz harnesses and benchmarks (linking the plug-in's objects) use
// support/HostObjects.h and support/Ref.h directly.
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
#include "support/Ref.h"

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
