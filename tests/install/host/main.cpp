// The smallest engine: built out of tree against an installed prefix (pkg-config or
// find_package(Kestrel)), it loads the installed plug-in, opens one SAMI file and prints how
// many streams were announced and how many subtitles the first one hands out.
// Usage: host PLUGIN FILE
#include <cstdio>
#include <dlfcn.h>
#include <kestrel/Kestrel.h>
#include <string>
#include <vector>

namespace {

class Host final : public Kestrel::PluginHost {
public:
  uint8_t checkFormat(const Kestrel::BufferString*) override { return 0; }
  void pluginDestroying(Kestrel::Plugin*) override {}
  void pluginDestroyed(Kestrel::Plugin*) override {}
};

class Engine final : public Kestrel::ContainerHost {
public:
  ~Engine() override {
    for (Kestrel::StreamInterface* stream : streams)
      delete stream; // announced streams are the engine's
  }
  uint64_t newIdentifier() override { return next_++; }
  Kestrel::BufferString getPreferredLanguage() override { return Kestrel::BufferString("en"); }
  int32_t getSetting(const Kestrel::Setting*, Kestrel::SettingValue*) override { return 0; }
  void addStream(Kestrel::StreamInterface* stream) override { streams.push_back(stream); }
  void removeStream(uint64_t) override {}
  void selectStream(uint64_t, int32_t) override {}

  std::vector<Kestrel::StreamInterface*> streams;

private:
  uint64_t next_ = 1;
};

class Clock final : public Kestrel::MediaClock {
public:
  int32_t getMediaTime() override { return now; }
  int32_t now = 0;
};

} // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: host PLUGIN FILE\n");
    return 64;
  }
  void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  using GetPlugin = int32_t (*)(Kestrel::PluginHost*, Kestrel::Plugin**);
  auto getPlugin = library ? reinterpret_cast<GetPlugin>(dlsym(library, "_getPlugin")) : nullptr;
  if (getPlugin == nullptr) {
    std::fprintf(stderr, "cannot load %s: %s\n", argv[1], dlerror());
    return 69;
  }
  Host host;
  Engine engine;
  Kestrel::Plugin* plugin = nullptr;
  getPlugin(&host, &plugin);
  void* interface = nullptr;
  const Kestrel::BufferString id(Kestrel::kContainerInterfaceId);
  if (plugin == nullptr || plugin->queryInterface(&id, &interface) != Kestrel::kResultOk)
    return 69;
  auto* container = static_cast<Kestrel::ContainerInterface*>(interface);
  container->attach(&engine, /*id=*/1);
  const std::string url = std::string("file://") + argv[2];
  const Kestrel::BufferString location(url.c_str());
  Kestrel::SourceDescriptor source;
  source.url = &location;
  if (container->open(&source) != Kestrel::kResultOk) {
    std::fprintf(stderr, "the container cannot open %s\n", argv[2]);
    return 65;
  }
  uint64_t program = 0;
  {
    const Kestrel::NodeList<unsigned long long> programs = container->getProgramIds();
    if (programs.head != nullptr)
      program = programs.head->value;
  }
  container->selectProgram(program);
  int subtitles = 0;
  if (!engine.streams.empty()) {
    Clock clock;
    Kestrel::StreamInterface* stream = engine.streams.front();
    stream->setClock(&clock);
    for (clock.now = 0; clock.now < 24 * 3600 * 1000; clock.now += 250) {
      Kestrel::MediaChunk* chunk = nullptr;
      while (stream->readStream(&chunk) == Kestrel::kResultOk && chunk != nullptr) {
        ++subtitles;
        chunk->release();
        chunk = nullptr;
      }
    }
  }
  std::printf("streams: %zu, subtitles in the first: %d\n", engine.streams.size(), subtitles);
  container->closeProgram(false);
  plugin->release();
  return 0;
}
