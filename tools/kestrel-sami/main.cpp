// kestrel-sami: plays the engine's part for the SAMI plug-in. It loads the built plug-in with
// dlopen and talks to it only through the engine interfaces, as a media player would.
#include "ContainerRules.h"
#include "Host.h"
#include "IcuFunctions.h"
#include "Options.h"
#include "OutputFile.h"
#include "PluginLibrary.h"
#include "ReaderLog.h"
#include "Session.h"
#include "SubtitleText.h"
#include "TextEncoding.h"
#include "kestrel/Result.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <memory>
#include <thread>
#if __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#endif

namespace KestrelTool {
namespace {

// Exit codes follow the BSD sysexits convention.
constexpr int kExitNotRecognised = 1;
constexpr int kExitUsage = 64;
constexpr int kExitData = 65;
constexpr int kExitNoInput = 66;
constexpr int kExitUnavailable = 69;
constexpr int kExitCantCreate = 73;

// Builds with a sanitizer check for leaks when the process ends.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) ||                         \
    __has_feature(memory_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

/// Whether the process runs under a checker that looks for leaks when it ends: a build with
/// a sanitizer, or Valgrind. Such a process hands everything back before it ends.
bool checksLeaksAtExit() {
#ifdef RUNNING_ON_VALGRIND
  return kSanitized || RUNNING_ON_VALGRIND != 0;
#else
  return kSanitized;
#endif
}

int fail(int code, const std::string& sentence) {
  std::cerr << "kestrel-sami: " << sentence << '\n';
  return code;
}

/// The file as the tool sees it before the plug-in reads it: a regular file it can open, its
/// size and its first bytes. The whole of it is read only when something needs every byte
/// (telling UTF-8 from a code page, or looking for "<SAMI" once an open found nothing).
class InputFile {
public:
  /// Checks that path is a readable regular file, or says in one sentence why it is not.
  bool inspect(const std::string& path, std::string& error) {
    path_ = path;
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (!std::filesystem::exists(status)) {
      error = "cannot read " + path + ": no such file.";
      return false;
    }
    if (std::filesystem::is_directory(status)) {
      error = path + " is a directory, not a SAMI file.";
      return false;
    }
    if (!std::filesystem::is_regular_file(status)) {
      error = path + " is not a regular file.";
      return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      error = "cannot read " + path + ": " + std::strerror(errno) + ".";
      return false;
    }
    size_ = std::filesystem::file_size(path, ec);
    if (ec)
      size_ = 0;
    char head[kHeadBytes];
    in.read(head, kHeadBytes);
    if (in.bad()) {
      error = "cannot read " + path + ": " + std::strerror(errno) + ".";
      return false;
    }
    head_.assign(head, static_cast<size_t>(in.gcount()));
    return true;
  }

  [[nodiscard]] uint64_t size() const { return size_; }
  /// The first bytes, enough for any Unicode signature.
  [[nodiscard]] std::string_view head() const { return head_; }

  /// Every byte, read on first use; what could be read when reading fails half way.
  std::string_view whole() {
    if (!whole_) {
      // Uninitialised: the read writes every byte kept.
      whole_.reset(new char[size_ + 1]);
      std::ifstream in(path_, std::ios::binary);
      in.read(whole_.get(), static_cast<std::streamsize>(size_));
      wholeLength_ = in ? size_ : static_cast<uint64_t>(std::max<std::streamsize>(in.gcount(), 0));
    }
    return {whole_.get(), wholeLength_};
  }
  /// Gives the bytes back (whole() reads them again if it must).
  void forget() { whole_.reset(); }

  /// The first bytes, at most count of them (all there are for a shorter file).
  [[nodiscard]] std::string start(size_t count) const {
    std::string bytes(static_cast<size_t>(std::min<uint64_t>(count, size_)), '\0');
    std::ifstream in(path_, std::ios::binary);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    return bytes;
  }

private:
  static constexpr size_t kHeadBytes = 4; // the longest signature
  std::string path_;
  uint64_t size_ = 0;
  std::string head_;
  std::unique_ptr<char[]> whole_;
  uint64_t wholeLength_ = 0;
};

/// How the tool answers the "CodePage" settings for one file, and how to describe it.
struct EncodingChoice {
  CodePageSettings settings;
  std::string description;     // e.g. "UTF-16LE (signature)"
  bool wellFormedUtf8 = false; // read as UTF-8, and it is: decoding cannot fail
  bool provisional = false;    // UTF-8 as far as the start shows; the rest is still to check
};

/// The choice for a file without signature or named code page, from all of its bytes: the
/// plug-in takes unnamed text as UTF-8, and text that is not UTF-8 gets its code page detected.
EncodingChoice chooseFromEveryByte(EncodingChoice choice, const std::string& path,
                                   InputFile& file) {
  const std::string_view bytes = file.whole();
  if (isWellFormedUtf8(bytes)) {
    choice.description = "UTF-8";
    choice.wellFormedUtf8 = true;
    return choice;
  }
  if (const auto detected = detectCodePage(bytes)) {
    choice.settings.name = detected->converter;
    choice.description = detected->converter + " (detected " + detected->detected + ")";
    std::cerr << "kestrel-sami: " << path << " has no Unicode signature and is not UTF-8; "
              << "reading it as " << detected->converter << " (detected " << detected->detected
              << "); name another code page with --code-page.\n";
    return choice;
  }
  choice.description = "UTF-8 (assumed; no code page detected)";
  return choice;
}

EncodingChoice chooseEncoding(const Options& options, const std::string& path, InputFile& file) {
  EncodingChoice choice;
  choice.settings.overrideEmbedded = options.ignoreSignature;
  const auto signature = options.ignoreSignature ? std::nullopt : unicodeSignature(file.head());
  if (signature) {
    choice.description = *signature + " (signature)";
    // A signature decides before "Name" is asked for; answer it anyway if the user gave one.
    choice.settings.name = options.codePage;
    return choice;
  }
  if (options.codePage) {
    choice.settings.name = options.codePage;
    choice.description = options.codePage->empty() ? "UTF-8 (--code-page \"\")"
                                                   : *options.codePage + " (--code-page)";
    return choice;
  }
  // Only here does the tool need every byte. A file whose start is UTF-8 is handed on as
  // UTF-8 while the rest is checked beside the open; any other is decided on every byte now.
  constexpr size_t kStart = size_t{64} << 10;
  if (file.size() > kStart) {
    std::string start = file.start(kStart);
    const size_t good = wellFormedUtf8Prefix(start);
    // A character cut by the end of the start is no fault.
    if (start.size() - good < 4 && start.size() == kStart) {
      choice.description = "UTF-8";
      choice.wellFormedUtf8 = true;
      choice.provisional = true;
      return choice;
    }
  }
  return chooseFromEveryByte(choice, path, file);
}

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

class Tool {
public:
  explicit Tool(const Options& options) : options_(options) {}

  int run() {
    if (!file_.inspect(options_.file, error_))
      return fail(kExitNoInput, error_);
    const std::string url = fileUrl(options_.file);
    const std::string absolute = absolutePath(options_.file);
    if (!isWellFormedUtf8(absolute))
      return fail(kExitData,
                  "the container cannot open " + options_.file + ": its full path is not UTF-8.");
    if (!ContainerRules::acceptsPathLength(absolute))
      return fail(kExitData, "the container cannot open " + options_.file +
                                 ": its full path is longer than 259 characters.");
    encoding_ = chooseEncoding(options_, options_.file, file_);
    file_.forget(); // the plug-in reads the file itself
    // What the rest of a file with a UTF-8 start holds is learnt beside the open; a probe
    // reads so little that it waits for the answer first.
    if (encoding_.provisional)
      restIsUtf8_ = std::async(std::launch::async,
                               [path = options_.file] { return isWellFormedUtf8File(path); });
    if (options_.command == Command::Probe)
      settleEncoding();

    auto library = std::make_unique<PluginLibrary>();
    if (!library->load(options_.pluginPath.value_or(PluginLibrary::defaultPath()),
                       options_.verbose))
      return fail(kExitUnavailable, library->error());
    language_ = options_.language.value_or(preferredLanguageFromLocale());
    std::unique_ptr<Session> session;
    for (;;) {
      session = std::make_unique<Session>(language_, encoding_.settings);
      if (!session->create(library->getPlugin()))
        return fail(kExitUnavailable, session->error());
      if (options_.command == Command::Probe)
        return probe(*session, url, library->logWatch());
      // The reader's messages say why an open failed. Watching them makes every message of
      // the open a call into the logging library (one per subtitle), so a quiet open goes
      // unwatched, and only one that fails is made again, watched, to hear why.
      std::optional<ReaderLog> reader;
      if (options_.verbose)
        reader.emplace(library->logWatch());
      bool opened = session->open(url) == Kestrel::kResultOk;
      if (!settleEncoding()) {
        session.reset(); // the file is opened again, read as every byte of it says
        continue;
      }
      if (!opened && !reader) {
        session = std::make_unique<Session>(language_, encoding_.settings);
        if (!session->create(library->getPlugin()))
          return fail(kExitUnavailable, session->error());
        reader.emplace(library->logWatch());
        opened = session->open(url) == Kestrel::kResultOk;
      }
      if (const int code = opened ? checkOpened(*session) : refused(url, *reader); code != 0)
        return code;
      break;
    }
    Session& opened = *session;
    switch (options_.command) {
    case Command::Info:
      return info(opened);
    case Command::Play:
      return play(opened);
    case Command::Export: {
      const int code = exportStreams(opened);
      if (!options_.verbose && !checksLeaksAtExit())
        keepUntilExit(std::move(library), std::move(session));
      return code;
    }
    default:
      return 0;
    }
  }

private:
  /// Keeps the plug-in and the session of a finished export until the process ends, as a
  /// static that is never destroyed: what is left is the document the container holds, one
  /// block per subtitle, and giving it back block by block is work nobody waits for. With
  /// --verbose (the plug-in's messages as it lets go) and under a leak checker everything is
  /// taken down as usual.
  static void keepUntilExit(std::unique_ptr<PluginLibrary> library,
                            std::unique_ptr<Session> session) {
    struct Kept {
      std::unique_ptr<PluginLibrary> library;
      std::unique_ptr<Session> session;
    };
    static Kept* const kept = new Kept{std::move(library), std::move(session)};
    (void)kept;
  }

  int probe(Session& session, const std::string& url, const LogWatch& observe) {
    std::vector<Kestrel::StreamFormat> formats;
    ReaderLog reader(observe);
    const uint8_t result = session.probe(url, formats);
    const std::string readerSays =
        reader.last() ? readerFailureSentence(*reader.last(), options_.file, encoding_.description)
                      : std::string();
    if (!formats.empty()) {
      const auto& f = formats.front();
      const std::string code(f.code.bytes, strnlen(f.code.bytes, sizeof f.code.bytes));
      std::cout << options_.file << ": recognised as SAMI; stream format " << code << " ("
                << f.first << ", " << f.second << ", " << f.third << ")\n";
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
  bool settleEncoding() {
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
  int checkOpened(const Session& session) {
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
  int refused(const std::string& url, const ReaderLog& reader) {
    if (!ContainerRules::acceptsName(url))
      return fail(kExitData, "the container refuses the name " + options_.file +
                                 ": it accepts only names ending in lower-case \".smi\" or "
                                 "\".sami\".");
    if (file_.size() == 0)
      return fail(kExitData, options_.file + " is empty.");
    // Text taken as it is must hold one character and one more byte.
    if (encoding_.wellFormedUtf8 && file_.size() < 2)
      return fail(kExitData, options_.file + " holds too little text for the container: it "
                                             "needs at least one character and one more byte.");
    if (reader.last()) {
      const std::string sentence =
          readerFailureSentence(*reader.last(), options_.file, encoding_.description);
      if (!sentence.empty())
        return fail(kExitData, sentence);
    }
    if (reader.watching() && !reader.last())
      // The text was read; only the scan's bound or memory can refuse it now.
      return fail(kExitData, "the container refused " + options_.file +
                                 ": its subtitles would take more than sixteen times its "
                                 "size (style markup repeated by deeply nested elements), "
                                 "or more memory than there is.");
    return fail(kExitData, "the container refused " + options_.file +
                               " (the logging library that would say why is not loaded).");
  }

  /// The streams the user asked for: one by --stream or --lang, otherwise all of them.
  bool chooseStreams(Session& session, std::vector<const StreamDescription*>& chosen) {
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

  void reportShortfall(const StreamDescription& stream, const ReadShortfall& shortfall) {
    if (shortfall.unreachable)
      std::cerr << "kestrel-sami: stream " << stream.id
                << " has subtitles that start later than any media clock time ("
                << formatTime(INT32_MAX) << "); they were left out.\n";
    if (shortfall.failed)
      std::cerr << "kestrel-sami: the container ran out of memory reading stream " << stream.id
                << "; the rest of its subtitles were left out.\n";
  }

  int info(Session& session) {
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

  int play(Session& session) {
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
      const auto due = wallStart + std::chrono::microseconds(mediaElapsed * 1000 * 1000 /
                                                             std::abs(options_.rate));
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

  int exportStreams(Session& session) {
    std::vector<const StreamDescription*> streams;
    if (!chooseStreams(session, streams))
      return fail(kExitUsage, error_);
    if (streams.empty() && options_.language)
      return fail(kExitData, "no stream of " + options_.file + " was chosen for \"" +
                                 *options_.language + "\".");
    // SubRip and WebVTT are written as the samples come, each straight from the container's
    // buffer into the stream's output; JSON and ASS look at every cue before writing one.
    const bool whole =
        options_.format == ExportFormat::Json || options_.format == ExportFormat::Ass;
    if (streams.size() > 1 && options_.output && !whole)
      return exportEachStream(session, streams);
    std::vector<StreamCues> exported;
    std::vector<Rendered> rendered;
    std::string repaired;
    const auto validText = [&repaired](std::string_view text) {
      if (isWellFormedUtf8(text))
        return text;
      repaired = repairUtf8(text);
      return std::string_view(repaired);
    };
    for (const auto* stream : streams) {
      ReadShortfall shortfall;
      StreamCues cues = describe(session, *stream);
      if (whole) {
        session.readEach(*stream, shortfall,
                         [&](uint32_t start, uint32_t duration, std::string_view text) {
                           cues.cues.push_back({start, duration, std::string(validText(text))});
                         });
      } else {
        rendered.push_back(
            render([&](const Take& take) { session.readEach(*stream, shortfall, take); }, nullptr));
      }
      reportShortfall(*stream, shortfall);
      exported.push_back(std::move(cues));
    }

    if (options_.format == ExportFormat::Json)
      return write(options_.output, {{}, writeJson(options_.file, exported)});
    if (options_.format == ExportFormat::Ass)
      for (const auto& stream : exported)
        rendered.push_back({{}, writeAss(stream.cues, stream.name)});
    if (exported.size() == 1)
      return write(options_.output, rendered.back());
    if (exported.empty())
      return write(options_.output, {{},
                                     options_.format == ExportFormat::Vtt   ? "WEBVTT\n"
                                     : options_.format == ExportFormat::Ass ? writeAss({}, "")
                                                                            : ""});
    if (!options_.output)
      return fail(kExitUsage, options_.file + " has " + std::to_string(exported.size()) +
                                  " streams; choose one with --stream ID or --lang TAG, or give "
                                  "-o OUT to write one file per stream.");
    // ASS with several streams: one file per stream, or the device taking them all.
    if (isDevice(*options_.output)) {
      std::ofstream out(*options_.output, std::ios::binary | std::ios::trunc);
      for (const auto& text : rendered) {
        out.write(text.head.data(), static_cast<std::streamsize>(text.head.size()));
        out.write(text.body.data(), static_cast<std::streamsize>(text.body.size()));
      }
      out.close();
      if (!out)
        return fail(kExitCantCreate,
                    "cannot write " + *options_.output + ": " + std::strerror(errno) + ".");
      for (const auto& stream : exported)
        std::cerr << "kestrel-sami: wrote stream " << stream.id << " to " << *options_.output
                  << '\n';
      return 0;
    }
    for (size_t i = 0; i < exported.size(); ++i) {
      const std::string path = perStreamPath(*options_.output, exported[i], exported);
      if (const int code = write(path, rendered[i]); code != 0)
        return code;
      std::cerr << "kestrel-sami: wrote stream " << exported[i].id << " to " << path << '\n';
    }
    return 0;
  }

  /// A file's text in two parts, written one after the other: WebVTT's header is known only
  /// once its cues are.
  struct Rendered {
    std::string head;
    std::string body;
  };

  /// What the tool knows of a stream before reading it.
  static StreamCues describe(const Session& session, const StreamDescription& stream) {
    return {stream.id, stream.name, stream.language, stream.region, session.selected() == &stream,
            {}};
  }

  /// One stream's SubRip or WebVTT, each cue rendered straight from the container's buffer.
  /// With out, SubRip goes there in pieces as it is made and what is returned is the rest;
  /// WebVTT is returned whole (its header names the colours its cues use).
  /// Hands each sample of a stream to a callback, in order.
  using Take = std::function<void(uint32_t start, uint32_t duration, std::string_view text)>;
  using Samples = std::function<void(const Take& take)>;

  /// A stream's samples as read, their texts one after another in one block.
  struct ReadSamples {
    struct Entry {
      uint32_t start;
      uint32_t duration;
      size_t at;
      size_t length;
    };
    std::string text;
    std::vector<Entry> entries;

    void each(const Take& take) const {
      for (const Entry& entry : entries)
        take(entry.start, entry.duration, std::string_view(text).substr(entry.at, entry.length));
    }
  };

  Rendered render(const Samples& samples, OutputFile* out) const {
    std::string repaired;
    const auto validText = [&repaired](std::string_view text) {
      if (isWellFormedUtf8(text))
        return text;
      repaired = repairUtf8(text);
      return std::string_view(repaired);
    };
    Rendered output;
    if (options_.format == ExportFormat::Vtt) {
      VttWriter writer(options_.styleBlock);
      writer.body().reserve(outputEstimate());
      samples([&](uint32_t start, uint32_t duration, std::string_view text) {
        writer.add(start, duration, validText(text));
      });
      output = {writer.header(), std::move(writer.body())};
      return output;
    }
    // Written out a piece at a time, the output's pages are touched once and used again.
    constexpr size_t kPiece = size_t{1} << 20;
    output.body.reserve(out != nullptr ? 2 * kPiece : outputEstimate());
    SrtWriter writer(output.body);
    samples([&](uint32_t start, uint32_t duration, std::string_view text) {
      writer.add(start, duration, validText(text));
      if (out != nullptr && output.body.size() >= kPiece) {
        out->write(output.body);
        output.body.clear();
      }
    });
    return output;
  }

  /// SubRip or WebVTT of several streams into OUT: a file per stream named after it, or every
  /// stream in order into OUT itself when it is a device or a pipe. The streams are read one
  /// after another and rendered side by side, each file written by the thread that rendered
  /// it; what the tool says comes afterwards, in stream order: what
  /// reading found, then what was written. The first file that cannot be created, or
  /// written, stops the streams after it from being written.
  int exportEachStream(Session& session, const std::vector<const StreamDescription*>& streams) {
    std::vector<StreamCues> described;
    described.reserve(streams.size());
    for (const auto* stream : streams)
      described.push_back(describe(session, *stream));
    const bool device = isDevice(*options_.output);

    struct Job {
      std::string path;
      OutputFile file;
      Rendered output;
      ReadShortfall shortfall;
      std::string error; // why the file could not be written
      std::exception_ptr failure;
    };
    std::vector<Job> jobs(streams.size());
    size_t writable = device ? 0 : jobs.size(); // the streams whose files are open
    std::string openError;
    for (size_t i = 0; i < writable; ++i) {
      Job& job = jobs[i];
      job.path = perStreamPath(*options_.output, described[i], described);
      if (!job.file.create(job.path)) {
        openError = "cannot write " + job.path + ": " + std::strerror(job.file.error()) + ".";
        writable = i;
      }
    }

    // The container is read on this thread, one stream after another; each stream read is
    // rendered and written on a thread of its own while the next is read, as many at a time
    // as there are processors.
    std::vector<ReadSamples> read(jobs.size());
    const auto work = [&](size_t i, const Samples& samples) {
      Job& job = jobs[i];
      try {
        OutputFile* file = i < writable ? &job.file : nullptr;
        if (file != nullptr)
          file->empty();
        job.output = render(samples, file);
        read[i] = {};
        if (file == nullptr)
          return;
        file->write(job.output.head);
        file->write(job.output.body);
        if (!file->close())
          job.error = "cannot write " + job.path + ": " + std::strerror(file->error()) + ".";
        job.output = {}; // written
      } catch (...) {
        job.failure = std::current_exception();
      }
    };
    const size_t threads =
        std::min<size_t>(jobs.size(), std::max(1U, std::thread::hardware_concurrency()));
    std::vector<std::thread> helpers;
    struct Join { // however reading ends, the helpers have finished first
      std::vector<std::thread>& helpers;
      ~Join() {
        for (auto& helper : helpers)
          helper.join();
      }
    } join{helpers};
    for (size_t i = 0; i < jobs.size(); ++i) {
      if (helpers.size() + 1 >= threads) { // no processor to spare: rendered as it is read
        work(i, [&](const Take& take) { session.readEach(*streams[i], jobs[i].shortfall, take); });
        continue;
      }
      ReadSamples& samples = read[i];
      session.readEach(
          *streams[i], jobs[i].shortfall,
          [&samples](uint32_t start, uint32_t duration, std::string_view text) {
            samples.entries.push_back({start, duration, samples.text.size(), text.size()});
            samples.text.append(text);
          });
      helpers.emplace_back(work, i, [&read, i](const Take& take) { read[i].each(take); });
    }
    for (auto& helper : helpers)
      helper.join();
    helpers.clear();
    for (const Job& job : jobs)
      if (job.failure)
        std::rethrow_exception(job.failure);

    for (size_t i = 0; i < jobs.size(); ++i)
      reportShortfall(*streams[i], jobs[i].shortfall);
    std::vector<std::string> written;
    std::string writeError;
    if (device) {
      // One opening takes every stream: opened again, /dev/stdout on a file would start the
      // file over.
      std::ofstream out(*options_.output, std::ios::binary | std::ios::trunc);
      for (const Job& job : jobs) {
        out.write(job.output.head.data(), static_cast<std::streamsize>(job.output.head.size()));
        out.write(job.output.body.data(), static_cast<std::streamsize>(job.output.body.size()));
      }
      out.close();
      if (!out)
        writeError = "cannot write " + *options_.output + ": " + std::strerror(errno) + ".";
      else
        written.assign(jobs.size(), *options_.output);
    } else {
      for (size_t i = 0; i < writable && writeError.empty(); ++i) {
        if (jobs[i].error.empty())
          written.push_back(jobs[i].path);
        else
          writeError = jobs[i].error;
      }
      if (writeError.empty())
        writeError = openError;
    }
    for (size_t i = 0; i < written.size(); ++i)
      std::cerr << "kestrel-sami: wrote stream " << described[i].id << " to " << written[i] << '\n';
    return writeError.empty() ? 0 : fail(kExitCantCreate, writeError);
  }

  /// Room for one stream's output: a stream's cues take no more than the document's bytes
  /// and their times; pages never written are never touched.
  [[nodiscard]] size_t outputEstimate() const {
    return static_cast<size_t>(std::min<uint64_t>(file_.size() + file_.size() / 2, SIZE_MAX / 4));
  }

  /// Whether OUT is a device or a pipe rather than a file to name others after: anything
  /// under /dev/, or an existing file that is neither a regular file nor a directory.
  static bool isDevice(const std::string& output) {
    const std::string path = absolutePath(output);
    if (path.starts_with("/dev/"))
      return true;
    std::error_code ec;
    const auto status = std::filesystem::status(output, ec);
    return !ec && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status) &&
           !std::filesystem::is_directory(status);
  }

  /// "out.srt" becomes "out.en.srt" for a stream in English, or "out.3.srt" for stream 3
  /// when the language is missing or shared with another stream.
  static std::string perStreamPath(const std::string& output, const StreamCues& stream,
                                   const std::vector<StreamCues>& all) {
    const auto sameLanguage = std::count_if(
        all.begin(), all.end(), [&](const StreamCues& s) { return s.language == stream.language; });
    std::string tag = stream.language;
    bool safe = !tag.empty() && sameLanguage == 1;
    for (const char c : tag)
      safe = safe && (std::isalnum(static_cast<unsigned char>(c)) || c == '-');
    if (!safe)
      tag = std::to_string(stream.id);
    const std::filesystem::path path(output);
    return (path.parent_path() / (path.stem().string() + "." + tag + path.extension().string()))
        .string();
  }

  int write(const std::optional<std::string>& path, const Rendered& text) {
    if (!path) {
      std::cout.write(text.head.data(), static_cast<std::streamsize>(text.head.size()));
      std::cout.write(text.body.data(), static_cast<std::streamsize>(text.body.size()));
      std::cout.flush();
      return std::cout ? 0 : fail(kExitCantCreate, "cannot write to standard output.");
    }
    std::string error;
    return writeFile(*path, text, error) ? 0 : fail(kExitCantCreate, error);
  }

  /// Writes text to a file; false with the sentence saying why when it can't.
  static bool writeFile(const std::string& path, const Rendered& text, std::string& error) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (out) {
      out.write(text.head.data(), static_cast<std::streamsize>(text.head.size()));
      out.write(text.body.data(), static_cast<std::streamsize>(text.body.size()));
    }
    out.close();
    if (!out) {
      error = "cannot write " + path + ": " + std::strerror(errno) + ".";
      return false;
    }
    return true;
  }

  const Options& options_;
  InputFile file_;
  std::string language_;
  EncodingChoice encoding_;
  std::future<bool> restIsUtf8_; // while encoding_ is provisional
  std::string error_;
};

} // namespace
} // namespace KestrelTool

int main(int argc, char** argv) {
  using namespace KestrelTool;
  const ParsedOptions parsed = parseOptions(argc, argv);
  if (!parsed.error.empty())
    return fail(kExitUsage, parsed.error);
  if (parsed.options.command == Command::Help) {
    std::cout << usageText();
    return 0;
  }
  if (parsed.options.command == Command::Version)
    return printVersions(parsed.options);
  return Tool(parsed.options).run();
}
