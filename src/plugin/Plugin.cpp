#include "kestrel/Plugin.h"

#include "kestrel/HostInterfaces.h"

namespace Kestrel {

Plugin::Plugin(PluginHost* pluginHost) : host(pluginHost) {}

Plugin::~Plugin() = default;

int32_t Plugin::retain() { return ++refCount; }

int32_t Plugin::release() {
  const int32_t count = --refCount;
  if (count != 0)
    return count;
  // Read the host before the object goes: the "destroyed" notice only identifies us.
  PluginHost* notify = host;
  if (notify != nullptr)
    notify->pluginDestroying(this);
  Plugin* self = this;
  delete this;
  if (notify != nullptr)
    notify->pluginDestroyed(self);
  return 0;
}

int32_t Plugin::getReferenceCount() { return refCount; }

int32_t Plugin::getState() { return state; }

PluginHost* Plugin::getHost() { return host; }

} // namespace Kestrel
