// Opening SAMI documents: realistic ones of 1, 10 and 100 MB against the floor of a plain
// read plus one memchr pass, and hostile ones of 1 and 10 MB against their own 1 MB case
// and the realistic 10 MB document. After the usual benchmark output, a table prints the
// ratios the project holds itself to, and the peak resident memory of a process that
// opens the realistic 100 MB document.
//
//   SamiOpenBench                 everything, then the ratio table
//   SamiOpenBench --quick         without the 100 MB cases
//   SamiOpenBench --peak-rss FILE OUT (internal) opens FILE once and writes to OUT the
//                                 resident memory after the open, for the memory rows

#include "generate/SamiDocuments.h"
#include "kestrel/HostInterfaces.h"
#include "kestrel/Result.h"
#include "plugin/SAMIContainer.h"
#include "support/HostObjects.h"

#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <malloc.h>
#include <map>
#include <memory>
#include <new>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

// Every allocation of the process goes through these (the plug-in's objects are linked in),
// so the allocations of one open are the difference of the count around it.
namespace {
std::atomic<uint64_t> allocationCount{0};

void* countedAllocation(std::size_t size) {
  allocationCount.fetch_add(1, std::memory_order_relaxed);
  if (void* bytes = std::malloc(size == 0 ? 1 : size))
    return bytes;
  throw std::bad_alloc();
}
} // namespace

void* operator new(std::size_t size) { return countedAllocation(size); }
void* operator new[](std::size_t size) { return countedAllocation(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  allocationCount.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void* bytes) noexcept { std::free(bytes); }
void operator delete[](void* bytes) noexcept { std::free(bytes); }
void operator delete(void* bytes, std::size_t) noexcept { std::free(bytes); }
void operator delete[](void* bytes, std::size_t) noexcept { std::free(bytes); }
void operator delete(void* bytes, const std::nothrow_t&) noexcept { std::free(bytes); }
void operator delete[](void* bytes, const std::nothrow_t&) noexcept { std::free(bytes); }

namespace {

using SamiBench::Kind;

constexpr std::size_t kMB = 1000 * 1000;
constexpr uint64_t kSeed = 20240611;

// Opens path in a fresh container; the container (and everything it parsed) is released
// by the caller through the returned object.
struct OpenedDocument {
  KestrelTest::TestPluginHost pluginHost;
  KestrelTest::TestContainerHost containerHost; // answers no setting: documents read as UTF-8
  Kestrel::SAMIContainer* container = nullptr;
  int32_t result = -1;

  explicit OpenedDocument(const std::string& path) {
    containerHost.recordQueries = false;
    container = new Kestrel::SAMIContainer(&pluginHost);
    container->attach(&containerHost, 1);
    KestrelTest::Source source(KestrelTest::fileUrl(path));
    result = container->open(source.descriptor());
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

// Every iteration starts as a process opening its first file does: with no free memory kept
// from the iteration before. Otherwise a small case reuses the warm memory its predecessor
// freed while a large one, beyond what the allocator keeps, pays fresh pages every time, and
// the ratios between sizes would measure the allocator's trimming rather than the code.
void startCold() { malloc_trim(0); }

void readWholeFileAndScan(const std::string& path, char* buffer, std::size_t size) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = ::read(fd, buffer + done, size - done);
    if (got <= 0)
      break;
    done += static_cast<std::size_t>(got);
  }
  ::close(fd);
  buffer[size] = '\0';
  benchmark::DoNotOptimize(std::memchr(buffer, '\0', size + 1));
}

// The floor: read the whole file into a fresh buffer, then one memchr pass over it.
void readAndScan(benchmark::State& state, Kind kind, std::size_t megabytes) {
  const std::string& path = Corpus::instance().path(kind, megabytes);
  const std::size_t size = fileSize(path);
  for (auto _ : state) {
    std::unique_ptr<char[]> buffer(new char[size + 1]);
    readWholeFileAndScan(path, buffer.get(), size);
    state.PauseTiming();
    buffer.reset();
    startCold();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

// For comparison only: the same into one buffer kept from the first iteration on, so the
// difference to the floor is what the machine charges for fresh memory.
void readAndScanReused(benchmark::State& state, Kind kind, std::size_t megabytes) {
  const std::string& path = Corpus::instance().path(kind, megabytes);
  const std::size_t size = fileSize(path);
  std::unique_ptr<char[]> buffer(new char[size + 1]);
  std::memset(buffer.get(), 0, size + 1);
  for (auto _ : state)
    readWholeFileAndScan(path, buffer.get(), size);
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
    startCold();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fileSize(path)));
}

std::string benchName(const char* what, Kind kind, std::size_t megabytes) {
  return std::string(what) + "/" + SamiBench::kindName(kind) + "/" + std::to_string(megabytes) +
         "MB";
}

// Each case runs kRepetitions times, and each repetition of every size covers about the same
// amount of text (ten 1 MB opens, one 10 MB open), so every case gets as many samples of
// about the same length; the ratio table takes as many pairs of samples. Medians, because a
// neighbour on a shared machine slows some samples and an allocator that happens to hand
// back memory still mapped speeds up others. (Wall time mostly measures the neighbours.)
constexpr int kRepetitions = 9;
constexpr std::size_t kMegabytesPerRepetition = 10;

double median(std::vector<double> values) {
  if (values.empty())
    return 0.0;
  auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}

// Shows the aggregates of each case and keeps every repetition's time per iteration.
class TableReporter : public benchmark::ConsoleReporter {
public:
  TableReporter() : ConsoleReporter(OO_None) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    std::vector<Run> shown;
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate)
        shown.push_back(run);
      else if (run.iterations > 0 && !run.error_occurred)
        samples_[run.run_name.function_name].push_back(run.cpu_accumulated_time /
                                                       static_cast<double>(run.iterations));
    }
    if (!shown.empty())
      ConsoleReporter::ReportRuns(shown);
  }
  /// The median CPU seconds per iteration of the named case, or -1 when it did not run.
  double seconds(const std::string& name) const {
    auto found = samples_.find(name);
    return found == samples_.end() ? -1.0 : median(found->second);
  }

private:
  std::map<std::string, std::vector<double>> samples_;
};

// What a child process that only opens path holds resident: before the open (the program
// and its libraries), at its peak, and once the open has returned, in bytes; -1 when the
// measurement failed. The child reads its own figures: the peak that wait4 reports would
// include this process's, whose address space the child shares until it starts.
struct Memory {
  long before = -1;
  long peak = -1;
  long after = -1;
};

Memory residentMemory(const char* self, const std::string& path) {
  char out[] = "/tmp/sami-bench-rss-XXXXXX";
  const int fd = mkstemp(out);
  if (fd < 0)
    return {};
  ::close(fd);
  pid_t child = 0;
  const char* argv[] = {self, "--peak-rss", path.c_str(), out, nullptr};
  Memory memory;
  int status = 0;
  if (posix_spawn(&child, "/proc/self/exe", nullptr, nullptr, const_cast<char**>(argv), environ) ==
          0 &&
      waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
    if (FILE* file = std::fopen(out, "r")) {
      if (std::fscanf(file, "%ld %ld %ld", &memory.before, &memory.peak, &memory.after) != 3)
        memory = {};
      std::fclose(file);
    }
  }
  std::remove(out);
  return memory;
}

// This process's resident memory now and at its peak (VmRSS and VmHWM), in bytes.
std::pair<long, long> residentNow() {
  long now = -1;
  long peak = -1;
  FILE* status = std::fopen("/proc/self/status", "r");
  if (status == nullptr)
    return {now, peak};
  char line[256];
  while (std::fgets(line, sizeof line, status) != nullptr) {
    long kilobytes = 0;
    if (std::sscanf(line, "VmRSS: %ld kB", &kilobytes) == 1)
      now = kilobytes * 1024;
    else if (std::sscanf(line, "VmHWM: %ld kB", &kilobytes) == 1)
      peak = kilobytes * 1024;
  }
  std::fclose(status);
  return {now, peak};
}

// Allocations one open of path makes (the container's own included), or -1 when it fails.
long allocationsOfOpen(const std::string& path) {
  const uint64_t before = allocationCount.load();
  OpenedDocument opened(path);
  const uint64_t made = allocationCount.load() - before;
  return opened.result == Kestrel::kResultOk ? static_cast<long>(made) : -1;
}

// CPU seconds this thread has run.
double threadSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// CPU seconds of one open of path from fresh memory (releasing it is not timed); -1 when the
// open fails.
double timeOpen(const std::string& path) {
  const double start = threadSeconds();
  auto opened = std::make_unique<OpenedDocument>(path);
  const double spent = threadSeconds() - start;
  const bool ok = opened->result == Kestrel::kResultOk;
  opened.reset();
  startCold();
  return ok ? spent : -1;
}

// CPU seconds of one floor read of path into fresh memory.
double timeFloor(const std::string& path) {
  const std::size_t size = fileSize(path);
  const double start = threadSeconds();
  std::unique_ptr<char[]> buffer(new char[size + 1]);
  readWholeFileAndScan(path, buffer.get(), size);
  const double spent = threadSeconds() - start;
  buffer.reset();
  startCold();
  return spent;
}

// One side of a ratio: what one run is, and how many runs make a sample of about 10 MB.
struct Side {
  std::function<double()> once;
  int runs;
};

// Mean seconds per run over one sample, or -1 when a run fails.
double sampleOf(const Side& side) {
  double total = 0;
  for (int i = 0; i < side.runs; ++i) {
    const double spent = side.once();
    if (spent < 0)
      return -1;
    total += spent;
  }
  return total / side.runs;
}

struct Paired {
  double numerator = -1; // median seconds per run
  double ratio = -1;     // median of the pairs' ratios
};

// The two sides of a ratio sampled back to back kRepetitions times (which goes first
// alternates), each pair giving one ratio: the machine's load drifts over minutes, and a
// pair measured within a second sees the same machine on both sides.
Paired paired(const Side& numerator, const Side& denominator) {
  std::vector<double> times;
  std::vector<double> ratios;
  for (int r = 0; r < kRepetitions; ++r) {
    double top = 0;
    double bottom = 0;
    if (r % 2 == 0) {
      top = sampleOf(numerator);
      bottom = sampleOf(denominator);
    } else {
      bottom = sampleOf(denominator);
      top = sampleOf(numerator);
    }
    if (top < 0 || bottom <= 0)
      return {};
    times.push_back(top);
    ratios.push_back(top / bottom);
  }
  return {median(times), median(ratios)};
}

void printTable(TableReporter& reporter, const char* self, bool quick) {
  std::printf("\n%-58s %10s %8s %8s  %s\n", "ratio (CPU time, median of 9 paired samples)", "ms",
              "ratio", "target", "");
  std::fflush(stdout);
  auto row = [](const std::string& what, const Paired& measured, double target) {
    if (measured.ratio < 0) {
      std::printf("%-58s %10s %8s %8s  %s\n", what.c_str(), "-", "-", "-", "not measured");
    } else {
      std::printf("%-58s %10.2f %8.2f %8.1f  %s\n", what.c_str(), measured.numerator * 1e3,
                  measured.ratio, target, measured.ratio <= target ? "ok" : "OVER");
    }
    std::fflush(stdout);
  };
  Corpus& corpus = Corpus::instance();
  const std::string realisticPath = corpus.path(Kind::Realistic, 10);
  const Side realistic{[&] { return timeOpen(realisticPath); }, 1};
  row("open realistic 10MB / read+memchr 10MB",
      paired(realistic, {[&] { return timeFloor(realisticPath); }, 1}), 5);
  // What fresh memory costs here: the floor less the same read into a reused buffer, per MB.
  const double floor10 = reporter.seconds(benchName("ReadAndMemchr", Kind::Realistic, 10));
  const double reused10 = reporter.seconds(benchName("ReadAndMemchrReused", Kind::Realistic, 10));
  if (floor10 > 0 && reused10 > 0)
    std::printf("%-58s %10.2f %8s %8s  %s\n",
                "  fresh memory per MB: (floor - same into a reused buffer)/10",
                (floor10 - reused10) * 1e3 / 10, "-", "-", "info");
  for (Kind kind : SamiBench::kHostileKinds) {
    const std::string onePath = corpus.path(kind, 1);
    const std::string tenPath = corpus.path(kind, 10);
    const Side ten{[&] { return timeOpen(tenPath); }, 1};
    row(std::string("open ") + SamiBench::kindName(kind) + " 10MB / its 1MB",
        paired(ten, {[&] { return timeOpen(onePath); }, 10}), 12);
    row(std::string("open ") + SamiBench::kindName(kind) + " 10MB / realistic 10MB",
        paired(ten, realistic), 3);
  }
  // Allocations: the same for every size when the store grows with its tracks only.
  const long allocations1 = allocationsOfOpen(corpus.path(Kind::Realistic, 1));
  const long allocations10 = allocationsOfOpen(realisticPath);
  std::printf("%-58s %10ld %8s %8s  %s\n", "allocations per open realistic 1MB", allocations1, "-",
              "-", "info");
  std::printf("%-58s %10ld %8.2f %8.1f  %s\n",
              "allocations per open realistic 10MB (ratio: / its 1MB)", allocations10,
              static_cast<double>(allocations10) / static_cast<double>(allocations1), 1.5,
              allocations10 > 0 && allocations10 <= allocations1 * 3 / 2 ? "ok" : "OVER");
  std::fflush(stdout);
  std::vector<std::size_t> memorySizes{10};
  if (!quick) {
    const long allocations100 = allocationsOfOpen(corpus.path(Kind::Realistic, 100));
    std::printf("%-58s %10ld %8.2f %8.1f  %s\n",
                "allocations per open realistic 100MB (ratio: / its 1MB)", allocations100,
                static_cast<double>(allocations100) / static_cast<double>(allocations1), 1.5,
                allocations100 > 0 && allocations100 <= allocations1 * 3 / 2 ? "ok" : "OVER");
    memorySizes.push_back(100);
  }
  // Memory of a separate process that only opens the document (its own baseline included).
  for (const std::size_t mb : memorySizes) {
    const std::string& path = Corpus::instance().path(Kind::Realistic, mb);
    const Memory memory = residentMemory(self, path);
    const double size = static_cast<double>(fileSize(path));
    const std::string name = "realistic " + std::to_string(mb) + "MB / file size";
    // The targets are the 100 MB document's; at 10 MB the program's own share still shows.
    const auto memoryRow = [&](const std::string& what, long bytes, double target) {
      if (bytes < 0) {
        std::printf("%-58s %10s %8s %8s  %s\n", what.c_str(), "-", "-", "-", "measurement failed");
        return;
      }
      const double ratio = static_cast<double>(bytes) / size;
      if (mb < 100) {
        std::printf("%-58s %9.0fM %8.2f %8s  %s\n", what.c_str(), static_cast<double>(bytes) / 1e6,
                    ratio, "-", "info");
        return;
      }
      std::printf("%-58s %9.0fM %8.2f %8.1f  %s\n", what.c_str(), static_cast<double>(bytes) / 1e6,
                  ratio, target, ratio <= target ? "ok" : "OVER");
    };
    memoryRow("  resident before open (program, libraries) / file size", memory.before, 1);
    memoryRow("peak RSS open " + name, memory.peak, 2.5);
    memoryRow("resident after open " + name, memory.after, 1.3);
    std::fflush(stdout);
  }
}

// Registers a case measured as described at kRepetitions.
void measured(benchmark::internal::Benchmark* benchmark, std::size_t megabytes) {
  benchmark->Unit(benchmark::kMillisecond)
      ->UseRealTime()
      ->Iterations(static_cast<benchmark::IterationCount>(
          std::max<std::size_t>(1, kMegabytesPerRepetition / megabytes)))
      ->Repetitions(kRepetitions);
}

} // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--peak-rss") == 0) {
    const long before = residentNow().first;
    OpenedDocument opened(argv[2]);
    const auto [after, peak] = residentNow();
    FILE* out = std::fopen(argv[3], "w");
    if (out == nullptr || opened.result != Kestrel::kResultOk)
      return 1;
    std::fprintf(out, "%ld %ld %ld\n", before, peak, after);
    return std::fclose(out) == 0 ? 0 : 1;
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
    measured(benchmark::RegisterBenchmark(benchName("ReadAndMemchr", Kind::Realistic, mb).c_str(),
                                          readAndScan, Kind::Realistic, mb),
             mb);
    if (mb == 10)
      measured(benchmark::RegisterBenchmark(
                   benchName("ReadAndMemchrReused", Kind::Realistic, mb).c_str(), readAndScanReused,
                   Kind::Realistic, mb),
               mb);
    measured(benchmark::RegisterBenchmark(benchName("Open", Kind::Realistic, mb).c_str(),
                                          openDocument, Kind::Realistic, mb),
             mb);
  }
  for (Kind kind : SamiBench::kHostileKinds) {
    for (std::size_t mb : {1, 10}) {
      measured(
          benchmark::RegisterBenchmark(benchName("Open", kind, mb).c_str(), openDocument, kind, mb),
          mb);
    }
  }

  // Repetitions of all cases take turns, so a slow spell of the machine falls on every case
  // alike instead of on whichever case happened to be running. A later option overrides it.
  static char interleave[] = "--benchmark_enable_random_interleaving=true";
  args.insert(args.begin() + 1, interleave);
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  TableReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  printTable(reporter, argv[0], quick);
  benchmark::Shutdown();
  return 0;
}
