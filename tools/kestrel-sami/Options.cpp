#include "Options.h"

#include <charconv>
#include <cstring>
#include <string>
#include <string_view>

namespace KestrelTool {
namespace {

// Which options each command takes; an option given to a command that has no use for it is
// an error rather than silently ignored.
enum OptionBit : uint32_t {
  kLang = 1u << 0,
  kStream = 1u << 1,
  kFrom = 1u << 2,
  kRate = 1u << 3,
  kRealtime = 1u << 4,
  kFormat = 1u << 5,
  kOutput = 1u << 6,
  kNoStyleBlock = 1u << 7,
};

uint32_t allowedOptions(Command command) {
  switch (command) {
  case Command::Probe:
    return 0;
  case Command::Info:
    return kLang;
  case Command::Play:
    return kLang | kStream | kFrom | kRate | kRealtime;
  case Command::Export:
    return kLang | kStream | kFormat | kOutput | kNoStyleBlock;
  case Command::Help:
  case Command::Version:
    return ~0u;
  }
  return 0;
}

const char* commandName(Command command) {
  switch (command) {
  case Command::Probe:
    return "probe";
  case Command::Info:
    return "info";
  case Command::Play:
    return "play";
  case Command::Export:
    return "export";
  case Command::Help:
    return "help";
  case Command::Version:
    return "--version";
  }
  return "";
}

enum class Id {
  Help,
  Version,
  Verbose,
  IgnoreSignature,
  NoStyleBlock,
  Realtime,
  Plugin,
  CodePage,
  Lang,
  Stream,
  From,
  Rate,
  Format,
  Output
};

/// One option: its names, whether it takes a value, the commands it applies to (0: all) and
/// its lines in the usage text, in the order the usage text lists them.
struct OptionSpec {
  Id id;
  std::string_view shortName; // "-o", or empty
  std::string_view longName;
  bool takesValue;
  uint32_t bit;
  std::string_view usage; // empty: not listed
};

constexpr OptionSpec kOptions[] = {
    {Id::Lang, "", "--lang", true, kLang,
     "  --lang TAG          the viewer's language (default: from LC_ALL, LC_MESSAGES or LANG);\n"
     "                      with play and export, only the stream chosen for it\n"},
    {Id::Stream, "", "--stream", true, kStream,
     "  --stream ID         play or export only this stream (identifiers as info lists them)\n"},
    {Id::From, "", "--from", true, kFrom,
     "  --from MS           play: start the clock at MS milliseconds (default 0, or the end\n"
     "                      when playing backwards)\n"},
    {Id::Rate, "", "--rate", true, kRate,
     "  --rate R            play: speed factor, e.g. 1, 0.5 or 2; negative plays backwards\n"},
    {Id::Realtime, "", "--realtime", false, kRealtime,
     "  --realtime          play: pace the clock by the wall clock\n"},
    {Id::Format, "", "--format", true, kFormat,
     "  --format F          export: srt, vtt, ass (Advanced SubStation) or json\n"},
    {Id::Output, "-o", "--output", true, kOutput,
     "  -o, --output OUT    export: write to OUT instead of standard output; with several\n"
     "                      streams, one file per stream named OUT with the language added,\n"
     "                      except that a device or pipe (/dev/null, /dev/stdout) takes all\n"
     "                      the streams, one after the other\n"},
    {Id::NoStyleBlock, "", "--no-style-block", false, kNoStyleBlock,
     "  --no-style-block    export vtt: no STYLE block for colours outside WebVTT's own\n"
     "                      classes (white, lime, cyan, red, yellow, magenta, blue, black);\n"
     "                      some players drop every cue of a file that has one\n"},
    {Id::CodePage, "", "--code-page", true, 0,
     "  --code-page NAME    the code page of a file without a Unicode signature (e.g.\n"
     "                      windows-949, windows-1252); \"\" takes the bytes as UTF-8. Without\n"
     "                      it, a file that is not UTF-8 has its code page detected.\n"},
    {Id::IgnoreSignature, "", "--ignore-signature", false, 0,
     "  --ignore-signature  ignore a Unicode signature at the start of the file\n"},
    {Id::Verbose, "-v", "--verbose", false, 0,
     "  -v, --verbose       show the plug-in's log messages on standard error\n"},
    {Id::Plugin, "", "--plugin", true, 0,
     "  --plugin PATH       load this build of the plug-in instead of the installed one\n"},
    {Id::Version, "", "--version", false, 0,
     "  --version           the versions of the tool, of the plug-in it finds and of ICU\n"},
    {Id::Help, "-h", "--help", false, 0, ""},
};

const OptionSpec* findOption(std::string_view name) {
  for (const OptionSpec& spec : kOptions)
    if (name == spec.longName || (!spec.shortName.empty() && name == spec.shortName))
      return &spec;
  return nullptr;
}

std::optional<Command> commandFromName(std::string_view name) {
  if (name == "probe")
    return Command::Probe;
  if (name == "info")
    return Command::Info;
  if (name == "play")
    return Command::Play;
  if (name == "export")
    return Command::Export;
  if (name == "help")
    return Command::Help;
  return std::nullopt;
}

template <class T> std::optional<T> parseUnsigned(std::string_view text) {
  T value{};
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end)
    return std::nullopt;
  return value;
}

/// A speed factor such as "1", "-1", "0.5" or "2.25" in thousandths, without floating point
/// so that "0.001" is exactly 1. At most three decimals and a factor of at most 1000.
std::optional<int32_t> parseRate(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  const size_t dot = text.find('.');
  const std::string_view whole = text.substr(0, dot);
  std::string_view fraction = dot == std::string_view::npos ? "" : text.substr(dot + 1);
  if ((whole.empty() && fraction.empty()) || fraction.size() > 3 || whole.size() > 4)
    return std::nullopt;
  int64_t thousandths = 0;
  for (char c : whole) {
    if (c < '0' || c > '9')
      return std::nullopt;
    thousandths = thousandths * 10 + (c - '0');
  }
  thousandths *= 1000;
  int64_t scale = 100;
  for (char c : fraction) {
    if (c < '0' || c > '9')
      return std::nullopt;
    thousandths += (c - '0') * scale;
    scale /= 10;
  }
  if (thousandths > int64_t{1000} * 1000)
    return std::nullopt;
  return static_cast<int32_t>(negative ? -thousandths : thousandths);
}

} // namespace

ParsedOptions parseOptions(int argc, const char* const* argv) {
  ParsedOptions parsed;
  Options& o = parsed.options;
  auto fail = [&parsed](std::string message) {
    parsed.error = std::move(message);
    return parsed;
  };
  if (argc < 2)
    return fail("no command given; try \"kestrel-sami help\".");
  uint32_t given = 0;
  bool endOfOptions = false;
  bool haveCommand = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (endOfOptions || arg.empty() || arg[0] != '-' || arg == "-") {
      if (!haveCommand) {
        const auto command = commandFromName(arg);
        if (!command)
          return fail("unknown command \"" + std::string(arg) +
                      "\"; the commands are probe, info, play, export and help.");
        o.command = *command;
        haveCommand = true;
        continue;
      }
      if (!o.file.empty())
        return fail("only one file can be given, but both \"" + o.file + "\" and \"" +
                    std::string(arg) + "\" were.");
      o.file = std::string(arg);
      continue;
    }
    if (arg == "--") {
      endOfOptions = true;
      continue;
    }
    // --name=value and --name value are both accepted.
    std::string_view name = arg;
    std::optional<std::string_view> inlineValue;
    if (const size_t eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
      name = arg.substr(0, eq);
      inlineValue = arg.substr(eq + 1);
    }
    auto value = [&](std::string_view& out) -> bool {
      if (inlineValue) {
        out = *inlineValue;
        return true;
      }
      if (i + 1 >= argc)
        return false;
      out = argv[++i];
      return true;
    };
    const OptionSpec* spec = findOption(name);
    if (spec == nullptr)
      return fail("unknown option \"" + std::string(arg) + "\"; try \"kestrel-sami help\".");
    if (spec->id == Id::Help) {
      o.command = Command::Help;
      return parsed;
    }
    if (spec->id == Id::Version) {
      o.command = Command::Version;
      return parsed;
    }
    std::string_view v;
    if (!spec->takesValue && inlineValue)
      return fail("option " + std::string(name) + " takes no value.");
    if (spec->takesValue && !value(v))
      return fail("option " + std::string(name) + " needs a value.");
    switch (spec->id) {
    case Id::Verbose:
      o.verbose = true;
      break;
    case Id::IgnoreSignature:
      o.ignoreSignature = true;
      break;
    case Id::NoStyleBlock:
      o.styleBlock = false;
      break;
    case Id::Realtime:
      o.realtime = true;
      break;
    case Id::Plugin:
      o.pluginPath = std::string(v);
      break;
    case Id::CodePage:
      o.codePage = std::string(v);
      break;
    case Id::Lang:
      o.language = std::string(v);
      break;
    case Id::Stream:
      o.streamId = parseUnsigned<uint64_t>(v);
      if (!o.streamId)
        return fail("--stream needs a stream identifier as \"info\" lists it, not \"" +
                    std::string(v) + "\".");
      break;
    case Id::From: {
      const auto from = parseUnsigned<uint32_t>(v);
      if (!from)
        return fail("--from needs a time in milliseconds (0 to 4294967295), not \"" +
                    std::string(v) + "\".");
      o.fromMs = *from;
      o.fromGiven = true;
      break;
    }
    case Id::Rate: {
      const auto rate = parseRate(v);
      if (!rate)
        return fail("--rate needs a speed factor such as 1, 0.5 or -2 (at most 1000 and "
                    "three decimals), not \"" +
                    std::string(v) + "\".");
      if (*rate == 0)
        return fail("--rate must not be 0: a stopped stream hands out no subtitles.");
      o.rate = *rate;
      break;
    }
    case Id::Format:
      if (v == "srt")
        o.format = ExportFormat::Srt;
      else if (v == "vtt")
        o.format = ExportFormat::Vtt;
      else if (v == "ass")
        o.format = ExportFormat::Ass;
      else if (v == "json")
        o.format = ExportFormat::Json;
      else
        return fail("--format must be srt, vtt, ass or json, not \"" + std::string(v) + "\".");
      o.formatGiven = true;
      break;
    case Id::Output:
      if (v.empty())
        return fail("option " + std::string(name) + " needs a file name.");
      o.output = std::string(v);
      break;
    case Id::Help:
    case Id::Version:
      break;
    }
    const uint32_t bit = spec->bit;
    given |= bit;
  }

  if (o.command == Command::Help)
    return parsed;
  if (!haveCommand)
    return fail("no command given; try \"kestrel-sami help\".");
  // Options may come before the command, so whether they apply is checked now.
  if (const uint32_t stray = given & ~allowedOptions(o.command); stray != 0) {
    for (int i = 1; i < argc; ++i) {
      const std::string_view arg = argv[i];
      const std::string_view name = arg.substr(0, arg.find('='));
      const OptionSpec* spec = findOption(name);
      if (spec != nullptr && (spec->bit & stray) != 0)
        return fail("option " + std::string(name) + " does not apply to \"" +
                    commandName(o.command) + "\".");
    }
  }

  if (o.file.empty())
    return fail(std::string("\"") + commandName(o.command) + "\" needs a SAMI file.");
  if ((given & kStream) != 0 && (given & kLang) != 0)
    return fail("--stream and --lang both choose a stream; give one of them.");
  if (o.command == Command::Export && !o.formatGiven)
    return fail("\"export\" needs --format srt, vtt, ass or json.");
  return parsed;
}

const char* usageText() {
  static const std::string text = [] {
    std::string out = R"(Usage: kestrel-sami COMMAND FILE [OPTIONS]

Plays the engine's part: loads the SAMI plug-in, opens FILE through it and shows what an
engine would receive.

Commands:
  probe FILE          whether the container recognises FILE by its content, and the
                      stream format it reports
  info FILE           the streams: identifier, name, language, region, number of
                      subtitles, first start and last end; the stream chosen for --lang
  play FILE           drives a media clock and prints every subtitle as it is handed out
  export FILE         writes the subtitles as SubRip, WebVTT, Advanced SubStation or JSON
  help                this text

Options:
)";
    for (const OptionSpec& spec : kOptions)
      out += spec.usage;
    out += R"(
Exit status: 0 success; 1 probe did not recognise the file; 64 bad command line;
65 the file is not usable SAMI (refused name, not SAMI, text that does not decode);
66 the file is missing or unreadable; 69 the plug-in could not be loaded; 73 an output
file could not be written.
)";
    return out;
  }();
  return text.c_str();
}

} // namespace KestrelTool
