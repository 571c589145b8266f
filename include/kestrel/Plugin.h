// SPDX-License-Identifier: MIT
#pragma once

#include "kestrel/BufferString.h"

#include <cstdint>

namespace Kestrel {

class PluginHost;

/// Base of every object the engine holds. The engine calls these by vtable position:
/// never reorder, insert or remove a slot.
class Plugin {
public:
  explicit Plugin(PluginHost* pluginHost);
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  virtual ~Plugin();                   // slot 0
  virtual int32_t retain();            // slot 1: returns the new count
  virtual int32_t release();           // slot 2: destroys the object at 0, telling the host
  virtual int32_t getReferenceCount(); // slot 3
  virtual int32_t getState();          // slot 4
  virtual PluginHost* getHost();       // slot 5: not owned; outlives us
  /// Slot 6: *out = the interface named by id (0), or null (3). The count is unchanged.
  virtual int32_t queryInterface(const BufferString* id, void** out) = 0;

protected:
  // Not atomic: the engine serialises retain/release on one object, and an atomic here
  // would promise a thread safety the rest of the object does not have.
  int32_t refCount = 1;
  PluginHost* host; // may be null
  int32_t state = 0;
};

} // namespace Kestrel

/// The plug-in's one exported entry: *out receives a new container with one reference
/// (null when it could not be allocated); the result is always 0.
extern "C" int32_t _getPlugin(Kestrel::PluginHost* host, Kestrel::Plugin** out);
