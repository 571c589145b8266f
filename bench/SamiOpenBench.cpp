// Opening SAMI documents: realistic ones of 1, 10 and 100 MB against the floor of a plain
// read plus one memchr pass, and hostile ones of 1 and 10 MB against their own 1 MB case
// and the realistic 10 MB document. After the usual benchmark output, a table prints the
// ratios the project holds itself to, and the peak resident memory of a process that
// opens the realistic 100 MB document.
//
//   SamiOpenBench                 everything, then the ratio table
//   SamiOpenBench --quick         without the 100 MB cases
//   SamiOpenBench --peak-rss FILE (internal) opens FILE once, for the memory measurement

#include "generate/SamiDocuments.h"
#include "kestrel/HostInterfaces.h"
#include "kestrel/Result.h"
#include "plugin/SAMIContainer.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using SamiBench::Kind;

constexpr std::size_t kMB = 1000 * 1000;
constexpr uint64_t kSeed = 20240611;

class BenchPluginHost final : public Kestrel::PluginHost {
public:
  uint8_t checkFormat(const Kestrel::BufferString*) override { return 0; }
  void pluginDestroying(Kestrel::Plugin*) override {}
  void pluginDestroyed(Kestrel::Plugin*) override {}
};

// Answers no setting, so documents are read as UTF-8.
class BenchContainerHost final : public Kestrel::ContainerHost {
public:
  uint64_t newIdentifier() override { return ++next_; }
  Kestrel::BufferString getPreferredLanguage() override { return Kestrel::BufferString(); }
  int32_t getSetting(const Kestrel::Setting*, Kestrel::SettingValue*) override { return 0; }
  void addStream(Kestrel::StreamInterface*) override {}
  void removeStream(uint64_t) override {}
  void selectStream(uint64_t, int32_t) override {}

private:
  uint64_t next_ = 0;
};

// Opens path in a fresh container; the container (and everything it parsed) is released
// by the caller through the returned object.
struct OpenedDocument {
  BenchPluginHost pluginHost;
  BenchContainerHost containerHost;
  Kestrel::SAMIContainer* container = nullptr;
  int32_t result = -1;

  explicit OpenedDocument(const std::string& path) {
    container = new Kestrel::SAMIContainer(&pluginHost);
    container->attach(&containerHost, 1);
    const std::string url = "file://" + path;
    Kestrel::BufferString urlString(url.c_str());
    Kestrel::SourceDescriptor source;
    source.url = &urlString;
    result = container->open(&source);
  }
  ~OpenedDocument() { static_cast<Kestrel::Plugin*>(container)->release(); }
};

// The generated documents, written once per run into a directory removed at exit.
class Corpus {
public:
  static Corpus& instance() {
    static Corpus corpus;
    return corpus;
  }
  const std::string& path(Kind kind, std::size_t megabytes) {
    const std::string name =
        std::string(SamiBench::kindName(kind)) + "-" + std::to_string(megabytes) + "mb.smi";
    auto found = paths_.find(name);
    if (found != paths_.end())
      return found->second;
    SamiBench::Generator generator(kSeed);
    const std::string bytes = generator.document(kind, megabytes * kMB);
    const std::string path = directory_ + "/" + name;
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      std::exit(1);
    }
    std::fclose(file);
    return paths_.emplace(name, path).first->second;
  }
  ~Corpus() {
    for (const auto& entry : paths_)
      std::remove(entry.second.c_str());
    rmdir(directory_.c_str());
  }

private:
  Corpus() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/sami-bench-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::exit(1);
    }
    directory_ = pattern;
  }
  std::string directory_;
  std::map<std::string, std::string> paths_;
};

std::size_t fileSize(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? static_cast<std::size_t>(info.st_size) : 0;
}

// The floor: read the whole file into a fresh buffer, then one memchr pass over it.
void readAndScan(benchmark::State& state, Kind kind, std::size_t megabytes) {
  const std::string& path = Corpus::instance().path(kind, megabytes);
  const std::size_t size = fileSize(path);
  for (auto _ : state) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    std::unique_ptr<char[]> buffer(new char[size + 1]);
    std::size_t done = 0;
    while (done < size) {
      const ssize_t got = ::read(fd, buffer.get() + done, size - done);
      if (got <= 0)
        break;
      done += static_cast<std::size_t>(got);
    }
    ::close(fd);
    buffer[size] = '\0';
    benchmark::DoNotOptimize(std::memchr(buffer.get(), '\0', size + 1));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

void openDocument(benchmark::State& state, Kind kind, std::size_t megabytes) {
  const std::string& path = Corpus::instance().path(kind, megabytes);
  for (auto _ : state) {
    auto opened = std::make_unique<OpenedDocument>(path);
    if (opened->result != Kestrel::kResultOk)
      state.SkipWithError("open failed");
    state.PauseTiming(); // releasing the container is not part of open
    opened.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fileSize(path)));
}

std::string benchName(const char* what, Kind kind, std::size_t megabytes) {
  return std::string(what) + "/" + SamiBench::kindName(kind) + "/" + std::to_string(megabytes) +
         "MB";
}

// Keeps each benchmark's real time per iteration for the ratio table.
class TableReporter : public benchmark::ConsoleReporter {
public:
  TableReporter() : ConsoleReporter(OO_None) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      // CPU time: on a shared machine, wall time mostly measures the neighbours.
      if (run.iterations > 0)
        seconds[run.run_name.function_name] =
            run.cpu_accumulated_time / static_cast<double>(run.iterations);
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> seconds;
};

// Peak resident memory (bytes) of a child process that opens path once.
long peakResidentBytes(const char* self, const std::string& path) {
  pid_t child = 0;
  const char* argv[] = {self, "--peak-rss", path.c_str(), nullptr};
  if (posix_spawn(&child, "/proc/self/exe", nullptr, nullptr, const_cast<char**>(argv), environ) !=
      0)
    return -1;
  int status = 0;
  struct rusage usage {};
  if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return -1;
  return usage.ru_maxrss * 1024L;
}

void printTable(TableReporter& reporter, const char* self, bool quick) {
  auto time = [&](const std::string& name) {
    auto found = reporter.seconds.find(name);
    return found == reporter.seconds.end() ? -1.0 : found->second;
  };
  std::printf("\n%-58s %10s %8s %8s  %s\n", "ratio (CPU time)", "ms", "ratio", "target", "");
  auto row = [](const std::string& what, double numerator, double denominator, double target) {
    if (numerator < 0 || denominator <= 0) {
      std::printf("%-58s %10s %8s %8s  %s\n", what.c_str(), "-", "-", "-", "not measured");
      return;
    }
    const double ratio = numerator / denominator;
    std::printf("%-58s %10.2f %8.2f %8.1f  %s\n", what.c_str(), numerator * 1e3, ratio, target,
                ratio <= target ? "ok" : "OVER");
  };
  const double floor10 = time(benchName("ReadAndMemchr", Kind::Realistic, 10));
  const double realistic10 = time(benchName("Open", Kind::Realistic, 10));
  row("open realistic 10MB / read+memchr 10MB", realistic10, floor10, 5);
  for (Kind kind : SamiBench::kHostileKinds) {
    const double one = time(benchName("Open", kind, 1));
    const double ten = time(benchName("Open", kind, 10));
    row(std::string("open ") + SamiBench::kindName(kind) + " 10MB / its 1MB", ten, one, 12);
    row(std::string("open ") + SamiBench::kindName(kind) + " 10MB / realistic 10MB", ten,
        realistic10, 3);
  }
  if (quick)
    return;
  const std::string& big = Corpus::instance().path(Kind::Realistic, 100);
  const long peak = peakResidentBytes(self, big);
  const double size = static_cast<double>(fileSize(big));
  if (peak < 0) {
    std::printf("%-58s %10s %8s %8s  %s\n", "peak RSS open realistic 100MB / file size", "-", "-",
                "-", "measurement failed");
    return;
  }
  std::printf("%-58s %9.0fM %8.2f %8.1f  %s\n", "peak RSS open realistic 100MB / file size",
              static_cast<double>(peak) / 1e6, static_cast<double>(peak) / size, 6.0,
              static_cast<double>(peak) <= 6 * size ? "ok" : "OVER");
}

} // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--peak-rss") == 0) {
    OpenedDocument opened(argv[2]);
    return opened.result == Kestrel::kResultOk ? 0 : 1;
  }
  bool quick = false;
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--quick") == 0)
      quick = true;
    else
      args.push_back(argv[i]);
  }

  const std::vector<std::size_t> realisticSizes =
      quick ? std::vector<std::size_t>{1, 10} : std::vector<std::size_t>{1, 10, 100};
  for (std::size_t mb : realisticSizes) {
    benchmark::RegisterBenchmark(benchName("ReadAndMemchr", Kind::Realistic, mb).c_str(),
                                 readAndScan, Kind::Realistic, mb)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark(benchName("Open", Kind::Realistic, mb).c_str(), openDocument,
                                 Kind::Realistic, mb)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  }
  for (Kind kind : SamiBench::kHostileKinds) {
    for (std::size_t mb : {1, 10}) {
      benchmark::RegisterBenchmark(benchName("Open", kind, mb).c_str(), openDocument, kind, mb)
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime();
    }
  }

  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  TableReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  printTable(reporter, argv[0], quick);
  benchmark::Shutdown();
  return 0;
}
