#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace KestrelTool {

enum class Command { Probe, Info, Play, Export, Help, Version };
enum class ExportFormat { Srt, Vtt, Ass, Json };

/// Everything the command line asked for. Absent options keep their defaults.
struct Options {
  Command command = Command::Help;
  std::string file;
  std::optional<std::string> language; // --lang: the viewer's preferred language tag
  std::optional<uint64_t> streamId;    // --stream
  uint32_t fromMs = 0;                 // --from
  bool fromGiven = false;
  int32_t rate = 1000; // --rate, in thousandths of normal speed as the engine counts it
  bool realtime = false;
  ExportFormat format = ExportFormat::Srt;
  bool formatGiven = false;
  bool styleBlock = true;              // --no-style-block: WebVTT without a STYLE block
  std::optional<std::string> output;   // -o
  std::optional<std::string> codePage; // --code-page; an empty name means "take the bytes as UTF-8"
  bool ignoreSignature = false;
  bool verbose = false;
  std::optional<std::string> pluginPath;
};

/// The result of reading the command line: the options, or one sentence saying what is wrong.
struct ParsedOptions {
  Options options;
  std::string error; // empty on success
};

[[nodiscard]] ParsedOptions parseOptions(int argc, const char* const* argv);

/// The usage text printed by `help` and -h.
[[nodiscard]] const char* usageText();

} // namespace KestrelTool
