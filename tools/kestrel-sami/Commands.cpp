#include "ContainerRules.h"
#include "Diagnosis.h"
#include "IcuFunctions.h"
#include "Tool.h"
#include "kestrel/Result.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <thread>

namespace KestrelTool {
namespace {

// What names another code page, as refusals tell the user.
constexpr std::string_view kCodePageOption = "--code-page NAME";

/// Terminal columns of UTF-8 text: East Asian wide characters take two.
size_t displayWidth(std::string_view utf8) {
  size_t width = 0;
  const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
  for (size_t i = 0; i < utf8.size();) {
    uint32_t cp = s[i];
    size_t length = cp < 0x80 ? 1 : cp < 0xE0 ? 2 : cp < 0xF0 ? 3 : 4;
    length = std::min(length, utf8.size() - i);
    if (length > 1) {
      cp &= 0x3Fu >> (length - 1);
      for (size_t k = 1; k < length; ++k)
        cp = (cp << 6) | (s[i + k] & 0x3Fu);
    }
    const bool wide = (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) ||
                      (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
                      (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
                      (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x20000 && cp <= 0x3FFFD);
    width += wide ? 2 : 1;
    i += length;
  }
  return width;
}

std::string orDash(const std::string& text) { return text.empty() ? "-" : text; }

std::string streamLabel(const StreamDescription& stream) {
  // Appended piece by piece: GCC 12 at -O3 warns (-Wrestrict) on "x" + std::string.
  std::string label = "#";
  label += std::to_string(stream.id);
  if (!stream.name.empty())
    label.append(" ").append(stream.name);
  return label;
}

/// Sample text on one line: the markup as received, line ends shown as \r and \n.
std::string oneLine(const std::string& text) {
  std::string out;
  for (const char c : repairUtf8(text)) {
    if (c == '\r')
      out += "\\r";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\t')
      out += "\\t";
    else
      out += c;
  }
  return out;
}

std::string rateText(int32_t rate) {
  char text[32];
  std::snprintf(text, sizeof text, "%s%d.%03d", rate < 0 ? "-" : "", std::abs(rate) / 1000,
                std::abs(rate) % 1000);
  std::string out(text);
  while (out.back() == '0')
    out.pop_back();
  if (out.back() == '.')
    out.pop_back();
  return out;
}

} // namespace

/// The tool's version, the plug-in's it would load (and the converter library that one
/// loads) and the ICU the tool detects code pages with.
int printVersions(const Options& options) {
  const std::string path = options.pluginPath.value_or(PluginLibrary::defaultPath());
  std::cout << "kestrel-sami " << KESTREL_VERSION << '\n';
  const std::string plugin = PluginLibrary::versionOf(path);
  if (plugin.empty()) {
    std::cout << "plug-in: none found at " << path << '\n';
  } else {
    const size_t icu = plugin.find(" icu ");
    std::cout << "plug-in " << plugin.substr(0, icu) << " (" << path << ")";
    if (icu != std::string::npos)
      std::cout << ", converting text with " << plugin.substr(icu + 5);
    std::cout << '\n';
  }
  const IcuFunctions* icu = icuFunctions();
  UVersionInfo version;
  icu->getVersion(version);
  char text[U_MAX_VERSION_STRING_LENGTH];
  icu->versionToString(version, text);
  std::cout << "ICU " << text << " (code page detection)\n";
  return plugin.empty() ? kExitUnavailable : 0;
}

int Tool::probe(Session& session, const std::string& url, const LogWatch& observe) {
  std::vector<Kestrel::StreamFormat> formats;
  ReaderLog reader(observe);
  const uint8_t result = session.probe(url, formats);
  const std::string readerSays = reader.last()
                                     ? readerFailureSentence(*reader.last(), options_.file,
                                                             encoding_.description, kCodePageOption)
                                     : std::string();
  if (!formats.empty()) {
    const auto& f = formats.front();
    const std::string code(f.code.bytes, strnlen(f.code.bytes, sizeof f.code.bytes));
    std::cout << options_.file << ": recognised as SAMI; stream format " << code << " (" << f.first
              << ", " << f.second << ", " << f.third << ")\n";
    return 0;
  }
  std::cout << options_.file << ": not recognised as SAMI";
  if (result != 0)
    std::cout << " (the engine refused the text format, result " << int{result} << ")";
  else if (file_.size() < 1024)
    std::cout << " (the container reads the first 1024 bytes, and the file has only "
              << file_.size() << ")";
  else if (!readerSays.empty())
    std::cout << ": " << readerSays;
  else if (!reader.watching())
    std::cout << " (no <SAMI> in its first 1024 bytes, or they could not be read)";
  else
    std::cout << " (no <SAMI> in its first 1024 bytes)";
  std::cout << '\n';
  return kExitNotRecognised;
}

/// Whether the encoding chosen holds: true unless the file's start was UTF-8 and its rest
/// is not, in which case the choice becomes what every byte says.
bool Tool::settleEncoding() {
  if (!encoding_.provisional)
    return true;
  encoding_.provisional = false;
  if (restIsUtf8_.get())
    return true;
  EncodingChoice choice;
  choice.settings.overrideEmbedded = options_.ignoreSignature;
  encoding_ = chooseFromEveryByte(choice, options_.file, file_);
  file_.forget();
  return false;
}

/// What an open that succeeded may still have to say: a document without subtitles.
int Tool::checkOpened(const Session& session) {
  if (session.streams().empty()) {
    if (!containsSamiMarker(file_.whole()))
      return fail(kExitData, options_.file + " is not a SAMI document: it has no <SAMI> "
                                             "element.");
    std::cerr << "kestrel-sami: " << options_.file << " holds no subtitles.\n";
  }
  return 0;
}

/// Why the container refused to open the file, from what the tool checked itself and what
/// the container's file reader said.
int Tool::refused(const std::string& url, const ReaderLog& reader) {
  if (!ContainerRules::acceptsName(url))
    return fail(kExitData, "the container refuses the name " + options_.file +
                               ": it accepts only names ending in lower-case \".smi\" or "
                               "\".sami\".");
  return fail(kExitData, refusalSentence({options_.file, file_.size(), encoding_.wellFormedUtf8,
                                          encoding_.description, kCodePageOption},
                                         reader));
}

/// The streams the user asked for: one by --stream or --lang, otherwise all of them.
bool Tool::chooseStreams(Session& session, std::vector<const StreamDescription*>& chosen) {
  if (options_.streamId) {
    const auto* stream = session.find(*options_.streamId);
    if (stream == nullptr) {
      std::string known;
      for (const auto& s : session.streams())
        known += (known.empty() ? "" : ", ") + std::to_string(s.id);
      error_ = options_.file + " has no stream " + std::to_string(*options_.streamId) +
               (known.empty() ? "." : "; its streams are " + known + ".");
      return false;
    }
    chosen.push_back(stream);
  } else if (options_.language) {
    if (const auto* stream = session.selected())
      chosen.push_back(stream);
  } else {
    for (const auto& stream : session.streams())
      chosen.push_back(&stream);
  }
  return true;
}

void Tool::reportShortfall(const StreamDescription& stream, const ReadShortfall& shortfall) {
  if (shortfall.unreachable)
    std::cerr << "kestrel-sami: stream " << stream.id
              << " has subtitles that start later than any media clock time ("
              << formatTime(INT32_MAX) << "); they were left out.\n";
  if (shortfall.failed)
    std::cerr << "kestrel-sami: the container ran out of memory reading stream " << stream.id
              << "; the rest of its subtitles were left out.\n";
}

int Tool::info(Session& session) {
  struct Row {
    std::vector<std::string> cells;
  };
  std::vector<Row> rows{
      {{"id", "name", "language", "region", "subtitles", "first start", "last end"}}};
  for (const auto& stream : session.streams()) {
    ReadShortfall shortfall;
    const auto cues = session.readAll(stream, shortfall);
    reportShortfall(stream, shortfall);
    uint64_t lastEnd = 0;
    for (const auto& cue : cues)
      lastEnd = std::max(lastEnd, uint64_t{cue.start} + cue.duration);
    rows.push_back({{std::to_string(stream.id), orDash(stream.name), orDash(stream.language),
                     orDash(stream.region), std::to_string(cues.size()),
                     cues.empty() ? "-" : formatTime(cues.front().start),
                     cues.empty() ? "-" : formatTime(lastEnd)}});
  }
  std::cout << options_.file << "\n  encoding: " << encoding_.description
            << "\n  streams: " << session.streams().size() << '\n';
  if (!session.streams().empty()) {
    std::vector<size_t> widths(rows.front().cells.size(), 0);
    for (const auto& row : rows)
      for (size_t c = 0; c < row.cells.size(); ++c)
        widths[c] = std::max(widths[c], displayWidth(row.cells[c]));
    for (const auto& row : rows) {
      std::string line = "  ";
      for (size_t c = 0; c < row.cells.size(); ++c) {
        line += row.cells[c];
        if (c + 1 < row.cells.size())
          line += std::string(widths[c] - displayWidth(row.cells[c]) + 2, ' ');
      }
      std::cout << line << '\n';
    }
  }
  const auto* selected = session.selected();
  std::cout << "  selected for "
            << (language_.empty() ? "no preferred language" : "\"" + language_ + "\"") << ": "
            << (selected != nullptr ? streamLabel(*selected) : "none") << '\n';
  return 0;
}

int Tool::play(Session& session) {
  std::vector<const StreamDescription*> streams;
  if (!chooseStreams(session, streams))
    return fail(kExitUsage, error_);
  const auto* selected = session.selected();
  std::cout << options_.file << ": " << session.streams().size() << " stream"
            << (session.streams().size() == 1 ? "" : "s") << ", selected "
            << (selected != nullptr ? streamLabel(*selected) : "none") << "; playing "
            << (streams.size() == session.streams().size() ? "all"
                : streams.empty()                          ? "none"
                                                           : streamLabel(*streams.front()))
            << " at rate " << rateText(options_.rate) << '\n';
  if (streams.empty())
    return 0;

  using WallClock = std::chrono::steady_clock;
  const auto wallStart = WallClock::now();
  std::optional<int32_t> firstClock;
  const auto wait = [&](int32_t clockTime) {
    if (!options_.realtime)
      return;
    if (!firstClock)
      firstClock = clockTime;
    // Media time passes |rate| / 1000 times as fast as the wall clock.
    const int64_t mediaElapsed = std::abs(int64_t{clockTime} - *firstClock);
    const auto due =
        wallStart + std::chrono::microseconds(mediaElapsed * 1000 * 1000 / std::abs(options_.rate));
    std::cout.flush();
    std::this_thread::sleep_until(due);
  };
  uint32_t count = 0;
  const auto deliver = [&](const DeliveredSample& sample) {
    ++count;
    std::cout << formatTime(sample.cue.start) << " +" << sample.cue.duration / 1000 << '.'
              << std::to_string(1000 + sample.cue.duration % 1000).substr(1) << "s "
              << streamLabel(*sample.stream) << ": " << oneLine(sample.cue.markup) << '\n';
  };
  const ReadShortfall shortfall =
      session.play(streams, options_.fromMs, options_.fromGiven, options_.rate, wait, deliver);
  if (shortfall.unreachable)
    std::cerr << "kestrel-sami: some subtitles start later than any media clock time ("
              << formatTime(INT32_MAX) << ") and were not played.\n";
  if (shortfall.failed)
    std::cerr << "kestrel-sami: the container ran out of memory reading; some subtitles were "
                 "not played.\n";
  std::cout << "end: " << count << " subtitle" << (count == 1 ? "" : "s") << " played\n";
  return 0;
}

} // namespace KestrelTool
