#include "support/HostPlugin.h"

#include <cstring>
#include <gtest/gtest.h>

using Kestrel::BufferString;
using KestrelTest::LoadedPlugin;
using KestrelTest::OpenedContainer;
using KestrelTest::Ref;
using KestrelTest::TestPluginHost;
using Notice = TestPluginHost::Notice;
using NoticeKind = TestPluginHost::NoticeKind;

namespace {

Kestrel::Plugin* makePlugin(Kestrel::PluginHost* host) {
  Kestrel::Plugin* plugin = nullptr;
  EXPECT_EQ(LoadedPlugin::instance().getPlugin(host, &plugin), 0);
  return plugin;
}

} // namespace

TEST(PluginEntry, LoadsAndMakesDistinctObjects) {
  ASSERT_TRUE(LoadedPlugin::instance().isLoaded()) << LoadedPlugin::instance().error();
  TestPluginHost host;
  Ref<Kestrel::Plugin> first(makePlugin(&host));
  Ref<Kestrel::Plugin> second(makePlugin(&host));
  ASSERT_TRUE(first);
  ASSERT_TRUE(second);
  EXPECT_NE(first.get(), second.get());
  EXPECT_EQ(first->getReferenceCount(), 1);
  EXPECT_EQ(second->getReferenceCount(), 1);
  EXPECT_EQ(first->getState(), 0);
  EXPECT_EQ(first->getHost(), &host);
}

TEST(PluginEntry, NullOutPointerCreatesNothing) {
  TestPluginHost host;
  EXPECT_EQ(LoadedPlugin::instance().getPlugin(&host, nullptr), 0);
  // Had an object been made, nobody could release it; the host would never hear of it.
  EXPECT_TRUE(host.notices().empty());
}

TEST(PluginEntry, RetainReleaseCountsAndNoticesInOrder) {
  TestPluginHost host;
  Kestrel::Plugin* plugin = makePlugin(&host);
  ASSERT_NE(plugin, nullptr);
  EXPECT_EQ(plugin->retain(), 2);
  EXPECT_EQ(plugin->release(), 1);
  EXPECT_TRUE(host.notices().empty());
  const void* identity = plugin;
  EXPECT_EQ(plugin->release(), 0);
  const std::vector<Notice> expected = {{NoticeKind::Destroying, identity},
                                        {NoticeKind::Destroyed, identity}};
  EXPECT_EQ(host.notices(), expected);
}

TEST(PluginEntry, NullHostReleasesQuietly) {
  Kestrel::Plugin* plugin = makePlugin(nullptr);
  ASSERT_NE(plugin, nullptr);
  EXPECT_EQ(plugin->getHost(), nullptr);
  EXPECT_EQ(plugin->release(), 0);
}

TEST(PluginQueryInterface, AnswersOnlyTheExactContainerId) {
  TestPluginHost host;
  Ref<Kestrel::Plugin> plugin(makePlugin(&host));
  ASSERT_TRUE(plugin);

  const BufferString exact(Kestrel::kContainerInterfaceId);
  void* found = nullptr;
  EXPECT_EQ(plugin->queryInterface(&exact, &found), Kestrel::kResultOk);
  EXPECT_NE(found, nullptr);
  EXPECT_NE(found, static_cast<void*>(plugin.get())); // the container part, not the Plugin part
  EXPECT_EQ(plugin->getReferenceCount(), 1);

  const char* others[] = {
      "COM.VEYRA.KESTREL.INTERFACE.CONTAINER", "com.veyra.kestrel.interface.container ",
      "com.veyra.kestrel.interface.containe", "com.veyra.kestrel.interface.stream", ""};
  for (const char* other : others) {
    SCOPED_TRACE(other);
    const BufferString id(other);
    void* out = &host; // anything but null: the answer must overwrite it
    EXPECT_EQ(plugin->queryInterface(&id, &out), Kestrel::kResultNoInterface);
    EXPECT_EQ(out, nullptr);
  }

  // An id with null data counts as the empty text.
  const BufferString empty;
  void* out = &host;
  EXPECT_EQ(plugin->queryInterface(&empty, &out), Kestrel::kResultNoInterface);
  EXPECT_EQ(out, nullptr);

  // Without an id the answer is still written (null); with nowhere to write, nothing is.
  out = &host;
  EXPECT_EQ(plugin->queryInterface(nullptr, &out), Kestrel::kResultNoInterface);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(plugin->queryInterface(&exact, nullptr), Kestrel::kResultNoInterface);
  EXPECT_EQ(plugin->getReferenceCount(), 1);
}

TEST(PluginContainer, MimeTypeTable) {
  OpenedContainer c;
  ASSERT_TRUE(c.isValid());
  auto* container = c.container;
  EXPECT_EQ(container->getMimeTypeCount(), 3u);

  const char* inOrder[] = {"text/x-sami", "text/x-smi", "text/xml"};
  for (uint32_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const BufferString type = container->getMimeType(i);
    EXPECT_EQ(type.view(), inOrder[i]);
    EXPECT_EQ(type.length, static_cast<int32_t>(std::strlen(inOrder[i])));
    EXPECT_EQ(container->getMimeTypeScoreAt(i), 1);
    EXPECT_EQ(container->getMimeTypeScore(&type), 1);
  }
  const BufferString past = container->getMimeType(3);
  EXPECT_TRUE(past.isEmpty());
  EXPECT_EQ(container->getMimeTypeScoreAt(3), 0);
  EXPECT_EQ(container->getMimeTypeScoreAt(UINT32_MAX), 0);

  const char* unknown[] = {"TEXT/XML", "application/smil", "text/x-sami ", ""};
  for (const char* type : unknown) {
    SCOPED_TRACE(type);
    const BufferString id(type);
    EXPECT_EQ(container->getMimeTypeScore(&id), -1);
  }
  EXPECT_EQ(container->getMimeTypeScore(nullptr), -1);
}

TEST(PluginContainer, IdentitySlots) {
  OpenedContainer c(/*containerId=*/0x1234567890ULL);
  ASSERT_TRUE(c.isValid());
  EXPECT_EQ(c.container->getContainerId(), 0x1234567890ULL);

  uint32_t first = 7;
  uint32_t second = 9;
  EXPECT_EQ(c.container->getReservedPair(&first, &second), 0);
  EXPECT_EQ(first, 0u);
  EXPECT_EQ(second, 0u);

  c.container->reserved3(42);
  EXPECT_EQ(c.container->reserved4(42), Kestrel::kResultFailure);

  const Kestrel::FormatCode code = c.subtitle()->getTextFormat();
  uint32_t words[2];
  std::memcpy(words, code.bytes, sizeof words);
  EXPECT_EQ(words[0], 0x38465455u); // "UTF8" read as a little-endian word
  EXPECT_EQ(words[1], 0u);
}

TEST(PluginContainer, DeleteThroughContainerInterfaceNotifiesNobody) {
  // The engine may delete the container through its own slot 0 instead of releasing it;
  // the same complete object goes, without the release sequence.
  TestPluginHost host;
  Kestrel::Plugin* plugin = makePlugin(&host);
  ASSERT_NE(plugin, nullptr);
  const BufferString id(Kestrel::kContainerInterfaceId);
  void* found = nullptr;
  ASSERT_EQ(plugin->queryInterface(&id, &found), Kestrel::kResultOk);
  delete static_cast<Kestrel::ContainerInterface*>(found);
  EXPECT_TRUE(host.notices().empty());
}
