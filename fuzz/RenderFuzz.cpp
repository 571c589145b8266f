// Every output dialect of every sample a document gives: the input is opened through the
// container and each stream read to its end, as the host reads it. The element's Pango markup
// of each sample must parse, and the SubRip, WebVTT and Advanced SubStation files written for
// a stream, read back by libavformat, must hold a cue for each sample the writers show, at
// its times (ASS to the centisecond).
#include "FuzzHost.h"
#include "PangoMarkup.h"
#include "SubtitleText.h"
#include "TextEncoding.h"
#include "plugin/SAMIContainer.h"
#include "support/HostObjects.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <pango/pango.h>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

using KestrelTool::Cue;
using Times = std::vector<std::pair<int64_t, int64_t>>; // start and end, in the file's unit

[[noreturn]] void fail(const char* what, const std::string& text) {
  std::fprintf(stderr, "%s:\n%s\n", what, text.c_str());
  __builtin_trap();
}

/// The samples of one stream read forwards at the latest clock, text made valid UTF-8 as the
/// host makes it.
std::vector<Cue> readCues(Kestrel::StreamInterface* stream, Kestrel::MediaClock* latest) {
  stream->setClock(latest);
  std::vector<Cue> cues;
  for (int i = 0; i < 100000; ++i) {
    Kestrel::MediaChunk* chunk = nullptr;
    stream->readStream(&chunk);
    if (chunk == nullptr)
      break;
    const int32_t length = std::clamp(chunk->used, 0, std::max(chunk->size, 0));
    const char* bytes = chunk->lockData();
    const std::string_view text = bytes != nullptr
                                      ? std::string_view(bytes, static_cast<size_t>(length))
                                      : std::string_view();
    cues.push_back({static_cast<uint32_t>(chunk->timestamp), static_cast<uint32_t>(chunk->duration),
                    KestrelTool::repairUtf8(text)});
    chunk->unlockData();
    chunk->release();
  }
  return cues;
}

void checkPango(const Cue& cue) {
  const std::string markup = KestrelGst::pangoMarkup(cue.markup);
  GError* error = nullptr;
  if (pango_parse_markup(markup.data(), static_cast<int>(markup.size()), 0, nullptr, nullptr,
                         nullptr, &error))
    return;
  std::fprintf(stderr, "%s\n", error->message);
  g_error_free(error);
  fail("Pango markup that does not parse", markup);
}

/// The cues libavformat's demuxer of format reads from file, in the stream's time base.
Times readBack(const std::string& file, const char* format, int unitsPerSecond) {
  const std::string path =
      KestrelFuzz::writeScratch(reinterpret_cast<const uint8_t*>(file.data()), file.size(),
                                (std::string(".") + format).c_str());
  AVFormatContext* context = nullptr;
  if (avformat_open_input(&context, path.c_str(), av_find_input_format(format), nullptr) < 0)
    fail("libavformat cannot open", file);
  const AVRational base = context->streams[0]->time_base;
  if (base.num != 1 || base.den != unitsPerSecond)
    fail("unexpected time base", file);
  Times times;
  AVPacket* packet = av_packet_alloc();
  while (av_read_frame(context, packet) >= 0) {
    times.emplace_back(packet->pts, packet->pts + packet->duration);
    av_packet_unref(packet);
  }
  av_packet_free(&packet);
  avformat_close_input(&context);
  std::remove(path.c_str());
  std::sort(times.begin(), times.end());
  return times;
}

void expectSame(Times expected, const Times& read, const char* format, const std::string& file) {
  std::sort(expected.begin(), expected.end());
  if (expected == read)
    return;
  std::fprintf(stderr, "%s: %zu cues written, %zu read\n", format, expected.size(), read.size());
  fail("cues lost or moved", file);
}

// libavformat's SubRip reader goes by timing lines, not by the blank lines between cues: a
// line of cue text that reads as a timing line starts a cue of its own (and takes the line
// before it for its index). SubRip has no way to escape it.
bool readsAsTiming(const std::string& text) {
  int t[8];
  size_t from = 0;
  while (from < text.size()) {
    const size_t end = std::min(text.find('\n', from), text.size());
    if (std::sscanf(text.substr(from, end - from).c_str(),
                    "%d:%d:%d%*1[,.]%d --> %d:%d:%d%*1[,.]%d", &t[0], &t[1], &t[2], &t[3], &t[4],
                    &t[5], &t[6], &t[7]) == 8)
      return true;
    from = end + 1;
  }
  return false;
}

void checkFiles(const std::vector<Cue>& cues, const std::string& styleName) {
  Times shownMs;
  bool srtAmbiguous = false;
  std::vector<const Cue*> shown;
  for (const auto& cue : cues) {
    if (!KestrelTool::isShown(cue))
      continue;
    shown.push_back(&cue);
    shownMs.emplace_back(cue.start, int64_t{cue.start} + cue.duration);
    srtAmbiguous = srtAmbiguous || readsAsTiming(KestrelTool::srtText(cue.markup));
  }
  const std::string srt = KestrelTool::writeSrt(cues);
  if (!srtAmbiguous)
    expectSame(shownMs, readBack(srt, "srt", 1000), "srt", srt);
  // libavformat stops at the first block that is not a cue, such as a STYLE block.
  const std::string vtt = KestrelTool::writeVtt(cues, /*styleBlock=*/false);
  expectSame(shownMs, readBack(vtt, "webvtt", 1000), "webvtt", vtt);

  // Times cut down to the centisecond; a cue that would last none is given one unless the
  // next cue starts in the same centisecond.
  Times shownCs;
  for (size_t c = 0; c < shown.size(); ++c) {
    const int64_t start = shown[c]->start / 10;
    int64_t end = (int64_t{shown[c]->start} + shown[c]->duration) / 10;
    if (end == start && (c + 1 == shown.size() || shown[c + 1]->start / 10 > start))
      end = start + 1;
    shownCs.emplace_back(start, end);
  }
  const std::string ass = KestrelTool::writeAss(cues, styleName);
  expectSame(shownCs, readBack(ass, "ass", 100), "ass", ass);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace Kestrel;
  if (size > (1u << 16))
    return 0;
  av_log_set_level(AV_LOG_QUIET);
  const std::string path = KestrelFuzz::writeScratch(data, size, ".smi");
  KestrelTest::Source source(KestrelTest::fileUrl(path));
  KestrelTest::TestContainerHost host(1);
  host.overrideEmbedded = false;
  host.setPreferredLanguage("en-US");
  KestrelTest::TestClock latest(INT32_MAX - 500); // the host's clock for reading everything

  auto* container = new SAMIContainer(nullptr);
  container->attach(&host, 7);
  if (container->open(source.descriptor()) == kResultOk) {
    NodeList<unsigned long long> programs = container->getProgramIds();
    if (programs.head != nullptr)
      container->selectProgram(programs.head->value);
    for (StreamInterface* stream : host.streams()) {
      BufferString name;
      BufferString language;
      BufferString region;
      stream->getDescription(&name, &language, &region, 0);
      const std::vector<Cue> cues = readCues(stream, &latest);
      for (const auto& cue : cues)
        checkPango(cue);
      checkFiles(cues, name.toStdString());
    }
    container->closeProgram(false);
  }
  container->release();
  host.deleteStreams();
  std::remove(path.c_str());
  return 0;
}
