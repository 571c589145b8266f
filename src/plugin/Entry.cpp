#include "kestrel/Plugin.h"
#include "plugin/SAMIContainer.h"

#include <new>

#define KESTREL_EXPORT extern "C" __attribute__((visibility("default")))

KESTREL_EXPORT int32_t _getPlugin(Kestrel::PluginHost* host, Kestrel::Plugin** out) {
  if (out == nullptr)
    return 0; // nowhere to put an object, so none is made
  *out = nullptr;
  try {
    *out = new (std::nothrow) Kestrel::SAMIContainer(host);
  } catch (...) {
    // Construction allocates the MIME table; the engine sees the failure as a null object.
    *out = nullptr;
  }
  return 0;
}
