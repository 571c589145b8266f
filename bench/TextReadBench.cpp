// readTextFile throughput on 10 MB files, UTF-8 (taken as it is) and UTF-16 with its
// signature (converted through ICU), each against a plain read of the same file timed in
// the same iterations. Counters: MB/s of readTextFile, MB/s of the plain read, and
// "ratio" = readTextFile time / plain read time; for UTF-16 also ICU's own conversion of the
// same bytes in memory ("icu_MB/s") and readTextFile against a read plus that conversion.
//
//   cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTREL_BUILD_BENCH=ON
//   ninja -C build-bench TextReadBench && build-bench/bin/TextReadBench

#include "kestrel/HostInterfaces.h"
#include "kestrel/Setting.h"
#include "platform/Utf.h"
#include "support/HostObjects.h"
#include "text/ParserUtilities.h"
#include "text/UCNVLibrary.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kFileBytes = 10u << 20;

/// Subtitle-like UTF-8 text of about `bytes` bytes: markup, Latin and Korean lines.
std::string sampleText(std::size_t bytes) {
  std::string text = "<SAMI>\r\n<BODY>\r\n";
  uint32_t seed = 12345;
  for (int line = 0; text.size() < bytes; ++line) {
    seed = seed * 1103515245u + 12345u;
    text += "<SYNC Start=" + std::to_string(line * 1500) + "><P Class=KRCC>";
    text += (seed >> 16) % 3 == 0 ? "Caf\xC3\xA9 au lait, s'il vous pla\xC3\xAEt."
                                  : "\xEC\x95\x88\xEB\x85\x95\xED\x95\x98\xEC\x84\xB8\xEC\x9A\x94"
                                    " \xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4 subtitle";
    text += "<br>line two\r\n";
  }
  text.resize(bytes);
  // Never end inside a UTF-8 sequence.
  while (!text.empty() && (static_cast<unsigned char>(text.back()) & 0xC0) == 0x80)
    text.pop_back();
  if (!text.empty() && static_cast<unsigned char>(text.back()) >= 0xC0)
    text.pop_back();
  return text;
}

struct BenchFiles {
  std::filesystem::path dir;
  std::string utf8;
  std::string utf16;

  BenchFiles() {
    dir = std::filesystem::temp_directory_path() /
          ("kestrel-text-bench-" + std::to_string(Clock::now().time_since_epoch().count()));
    std::filesystem::create_directories(dir);
    const std::string text = sampleText(kFileBytes);
    utf8 = write("utf8.smi", text);
    // UTF-16 LE with its signature, cut to the same size in bytes.
    const std::u16string wide = Kestrel::utf8ToWide(sampleText(kFileBytes / 2 - 1));
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : wide) {
      bytes.push_back(static_cast<char>(unit & 0xFF));
      bytes.push_back(static_cast<char>(unit >> 8));
    }
    utf16 = write("utf16.smi", bytes);
  }
  ~BenchFiles() {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }

  std::string write(const char* name, const std::string& bytes) const {
    const std::filesystem::path path = dir / name;
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path.string();
  }
};

BenchFiles& files() {
  static BenchFiles instance;
  return instance;
}

/// The floor: the whole file read into one buffer with stdio, as any reader must.
std::size_t plainRead(const std::string& path, std::vector<char>& buffer) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr)
    return 0;
  std::fseek(file, 0, SEEK_END);
  const long size = std::ftell(file);
  std::fseek(file, 0, SEEK_SET);
  buffer.resize(static_cast<std::size_t>(size) + 1);
  const std::size_t got = std::fread(buffer.data(), 1, static_cast<std::size_t>(size), file);
  std::fclose(file);
  return got;
}

/// readTextFile against a plain read of the same file and, when converterName is given,
/// against ICU's conversion of the bytes already in memory (skipping signatureBytes).
void readAgainstPlain(benchmark::State& state, const std::string& path,
                      const char* converterName = nullptr, std::size_t signatureBytes = 0) {
  // Lets signatures decide and names no code page, as an engine with default settings does.
  KestrelTest::TestContainerHost host;
  host.overrideEmbedded = false;
  host.recordQueries = false;
  const Kestrel::BufferString utf8Path(path.c_str());
  std::vector<char> buffer;
  const double bytes = static_cast<double>(std::filesystem::file_size(path));
  double readSeconds = 0;
  double plainSeconds = 0;
  double convertSeconds = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    const std::size_t got = plainRead(path, buffer);
    const auto t1 = Clock::now();
    Kestrel::BufferString text;
    if (!Kestrel::ParserUtilities::readTextFile(utf8Path, &host, &text, -1)) {
      state.SkipWithError("readTextFile failed");
      break;
    }
    benchmark::DoNotOptimize(text.data);
    const auto t2 = Clock::now();
    if (converterName != nullptr) {
      const std::string converted =
          Kestrel::convertToUtf8(converterName, buffer.data() + signatureBytes,
                                 static_cast<uint32_t>(got - signatureBytes));
      benchmark::DoNotOptimize(converted.data());
      convertSeconds += std::chrono::duration<double>(Clock::now() - t2).count();
    }
    plainSeconds += std::chrono::duration<double>(t1 - t0).count();
    readSeconds += std::chrono::duration<double>(t2 - t1).count();
    state.SetIterationTime(std::chrono::duration<double>(t2 - t1).count());
  }
  const double runs = static_cast<double>(state.iterations());
  if (runs == 0 || readSeconds == 0 || plainSeconds == 0)
    return;
  state.counters["MB/s"] = bytes * runs / readSeconds / 1e6;
  state.counters["plain_MB/s"] = bytes * runs / plainSeconds / 1e6;
  state.counters["ratio"] = readSeconds / plainSeconds;
  if (convertSeconds > 0) {
    // Conversion in memory, both directions; "vs_read_plus_convert" near 1 means the reader
    // adds nothing to a read and one conversion.
    state.counters["icu_MB/s"] = bytes * runs / convertSeconds / 1e6;
    state.counters["vs_read_plus_convert"] = readSeconds / (plainSeconds + convertSeconds);
  }
}

void BM_ReadTextFileUtf8(benchmark::State& state) { readAgainstPlain(state, files().utf8); }
void BM_ReadTextFileUtf16(benchmark::State& state) {
  readAgainstPlain(state, files().utf16, "UTF16-LE", 2);
}

BENCHMARK(BM_ReadTextFileUtf8)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadTextFileUtf16)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
