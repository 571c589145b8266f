// SPDX-License-Identifier: MIT
#pragma once

#include "kestrel/BufferString.h"

#include <cstddef>
#include <cstdint>

namespace Kestrel {

class Plugin;
class StreamInterface;
class Setting;
struct SettingValue;

// Engine objects the plug-in calls back. The plug-in calls them by vtable position, so
// slots it never calls are declared as placeholders that keep every named slot's number.

/// The engine object given to _getPlugin.
class PluginHost {
public:
  virtual ~PluginHost() = default; // slot 0
  virtual void reserved1() {}
  virtual void reserved2() {}
  virtual void reserved3() {}
  virtual void reserved4() {}
  virtual void reserved5() {}
  virtual void reserved6() {}
  /// Slot 7: 0 means the engine accepts the format.
  virtual uint8_t checkFormat(const BufferString* format) = 0;
  /// Slot 8: the object is about to be destroyed and is still valid.
  virtual void pluginDestroying(Plugin* plugin) = 0;
  /// Slot 9: the object was destroyed; the value only identifies it.
  virtual void pluginDestroyed(Plugin* plugin) = 0;
};

/// The engine object given to the container's attach.
class ContainerHost {
public:
  virtual ~ContainerHost() = default;   // slot 0
  virtual uint64_t newIdentifier() = 0; // slot 1: fresh, never repeated
  virtual void reserved2() {}
  virtual BufferString getPreferredLanguage() = 0; // slot 3: the viewer's tag, maybe empty
  virtual void reserved4() {}
  /// Slot 5: fills value for the named setting; the result is not used.
  virtual int32_t getSetting(const Setting* setting, SettingValue* value) = 0;
  virtual void reserved6() {}
  virtual void reserved7() {}
  virtual void reserved8() {}
  virtual void reserved9() {}
  virtual void reserved10() {}
  virtual void reserved11() {}
  virtual void reserved12() {}
  virtual void reserved13() {}
  virtual void reserved14() {}
  virtual void reserved15() {}
  virtual void reserved16() {}
  virtual void reserved17() {}
  virtual void reserved18() {}
  virtual void reserved19() {}
  virtual void reserved20() {}
  virtual void addStream(StreamInterface* stream) = 0;                // slot 21: engine owns it
  virtual void removeStream(uint64_t streamId) = 0;                   // slot 22
  virtual void selectStream(uint64_t streamId, int32_t selected) = 0; // slot 23
};

/// The engine's media clock.
class MediaClock {
public:
  virtual ~MediaClock() = default; // slot 0
  virtual void reserved1() {}
  virtual void reserved2() {}
  /// Slot 3: current media time in milliseconds, negative while none is available.
  virtual int32_t getMediaTime() = 0;
};

/// The engine's description of a source; the plug-in reads only the URL pointer, the
/// second pointer-sized word. The first word is the host's own.
struct SourceDescriptor {
  void* hostWord = nullptr;
  const BufferString* url = nullptr; // UTF-8 file URL; owned by the host
};
static_assert(sizeof(void*) != 8 || offsetof(SourceDescriptor, url) == 8, "engine record layout");

} // namespace Kestrel
