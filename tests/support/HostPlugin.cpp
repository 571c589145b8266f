#include "support/HostPlugin.h"

#include <dlfcn.h>

namespace KestrelTest {

LoadedPlugin::LoadedPlugin() {
  handle_ = dlopen(KESTREL_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* why = dlerror();
    error_ = why != nullptr ? why : "dlopen failed";
    return;
  }
  entry_ = reinterpret_cast<Entry>(dlsym(handle_, "_getPlugin"));
  if (entry_ == nullptr)
    error_ = "_getPlugin not found in " KESTREL_PLUGIN_PATH;
}

LoadedPlugin& LoadedPlugin::instance() {
  // Never unloaded: streams and strings of the plug-in may outlive any one test.
  static LoadedPlugin* const plugin = new LoadedPlugin();
  return *plugin;
}

int32_t LoadedPlugin::getPlugin(Kestrel::PluginHost* host, Kestrel::Plugin** out) {
  if (entry_ == nullptr) {
    if (out != nullptr)
      *out = nullptr;
    return -1;
  }
  return entry_(host, out);
}

OpenedContainer::OpenedContainer(uint64_t containerId, uint64_t firstIdentifier)
    : containerHost(firstIdentifier) {
  Kestrel::Plugin* made = nullptr;
  LoadedPlugin::instance().getPlugin(&pluginHost, &made);
  plugin.adopt(made);
  if (!plugin)
    return;
  const Kestrel::BufferString id(Kestrel::kContainerInterfaceId);
  void* found = nullptr;
  if (plugin->queryInterface(&id, &found) != Kestrel::kResultOk || found == nullptr)
    return;
  container = static_cast<Kestrel::ContainerInterface*>(found);
  container->attach(&containerHost, containerId);
}

OpenedContainer::~OpenedContainer() {
  // An engine lets go of its streams before the container that made them.
  containerHost.deleteStreams();
  container = nullptr;
  plugin.reset();
}

int32_t OpenedContainer::openFile(const std::string& path) {
  Source source(fileUrl(path));
  return container->open(source.descriptor());
}

} // namespace KestrelTest
