#include "SampleChannel.h"
#include "Tool.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <thread>

namespace KestrelTool {
namespace {

/// A sample's text as it is when it is UTF-8, else repaired into storage of its own.
class ValidText {
public:
  std::string_view operator()(std::string_view text) {
    if (isWellFormedUtf8(text))
      return text;
    repaired_ = repairUtf8(text);
    return repaired_;
  }

private:
  std::string repaired_;
};

} // namespace

int Tool::exportStreams(Session& session) {
  std::vector<const StreamDescription*> streams;
  if (!chooseStreams(session, streams))
    return fail(kExitUsage, error_);
  if (streams.empty() && options_.language)
    return fail(kExitData, "no stream of " + options_.file + " was chosen for \"" +
                               *options_.language + "\".");
  // SubRip and WebVTT are written as the samples come, each straight from the container's
  // buffer into the stream's output; JSON and ASS look at every cue before writing one.
  const bool whole = options_.format == ExportFormat::Json || options_.format == ExportFormat::Ass;
  if (streams.size() > 1 && options_.output && !whole)
    return exportEachStream(session, streams);
  std::vector<StreamCues> exported;
  std::vector<Rendered> rendered;
  ValidText validText;
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
    std::vector<const Rendered*> all;
    all.reserve(rendered.size());
    for (const auto& text : rendered)
      all.push_back(&text);
    if (std::string error; !writeFile(*options_.output, all, error))
      return fail(kExitCantCreate, error);
    for (const auto& stream : exported)
      std::cerr << "kestrel-sami: wrote stream " << stream.id << " to " << *options_.output << '\n';
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

/// What the tool knows of a stream before reading it.
StreamCues Tool::describe(const Session& session, const StreamDescription& stream) {
  return {stream.id, stream.name, stream.language, stream.region, session.selected() == &stream,
          {}};
}

Tool::Rendered Tool::render(const Samples& samples, OutputFile* out) const {
  ValidText validText;
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
  constexpr size_t kPiece = size_t{64} << 10;
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

int Tool::exportEachStream(Session& session, const std::vector<const StreamDescription*>& streams) {
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

  const auto work = [&](size_t i, const Samples& samples) {
    Job& job = jobs[i];
    try {
      OutputFile* file = i < writable ? &job.file : nullptr;
      if (file != nullptr)
        file->empty();
      job.output = render(samples, file);
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
  // The container is read on this thread, in groups of as many streams as there are
  // processors: the streams of a group are read in turns, about a block of text of each at a
  // time. A thread per processor renders and writes its share of the streams (every so
  // many-th) as their samples come.
  const size_t threads =
      std::min<size_t>(jobs.size(), std::max(1U, std::thread::hardware_concurrency()));
  std::vector<SampleChannel> channels(jobs.size());
  {
    std::atomic<bool> stopped{false}; // reading stopped short: streams not begun are left
    std::vector<std::thread> helpers;
    struct Join { // however reading ends, the helpers have finished first
      std::vector<std::thread>& helpers;
      ~Join() {
        for (auto& helper : helpers)
          helper.join();
      }
    } join{helpers};
    struct Close { // and no helper waits for a stream that will not be read
      std::vector<SampleChannel>& channels;
      std::atomic<bool>& stopped;
      int unwinding = std::uncaught_exceptions();
      ~Close() {
        if (std::uncaught_exceptions() > unwinding)
          stopped = true;
        for (auto& channel : channels)
          channel.close();
      }
    } close{channels, stopped};
    for (size_t k = 0; k < threads; ++k)
      helpers.emplace_back([&, k] {
        for (size_t i = k; i < jobs.size() && !stopped; i += threads)
          work(i, [&channels, i](const Take& take) { channels[i].each(take); });
      });
    for (size_t first = 0; first < jobs.size(); first += threads) {
      const size_t count = std::min(jobs.size() - first, threads);
      std::vector<std::unique_ptr<Session::Reading>> readings;
      for (size_t k = 0; k < count; ++k)
        readings.push_back(std::make_unique<Session::Reading>(session, *streams[first + k]));
      for (bool more = true; more;) {
        more = false;
        for (size_t k = 0; k < count; ++k) {
          SampleChannel& channel = channels[first + k];
          Session::Reading& reading = *readings[k];
          bool sent = false;
          const Take send = [&](uint32_t start, uint32_t duration, std::string_view text) {
            sent = channel.add(start, duration, text);
          };
          while (!sent && reading.next(send, jobs[first + k].shortfall)) {
          }
          if (reading.ended())
            channel.close();
          more = more || !reading.ended();
        }
      }
    }
  }
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
    std::vector<const Rendered*> all;
    all.reserve(jobs.size());
    for (const Job& job : jobs)
      all.push_back(&job.output);
    if (writeFile(*options_.output, all, writeError))
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
[[nodiscard]] size_t Tool::outputEstimate() const {
  return static_cast<size_t>(std::min<uint64_t>(file_.size() + file_.size() / 2, SIZE_MAX / 4));
}

/// Whether OUT is a device or a pipe rather than a file to name others after: anything
/// under /dev/, or an existing file that is neither a regular file nor a directory.
bool Tool::isDevice(const std::string& output) {
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
std::string Tool::perStreamPath(const std::string& output, const StreamCues& stream,
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

int Tool::write(const std::optional<std::string>& path, const Rendered& text) {
  if (!path) {
    std::cout.write(text.head.data(), static_cast<std::streamsize>(text.head.size()));
    std::cout.write(text.body.data(), static_cast<std::streamsize>(text.body.size()));
    std::cout.flush();
    return std::cout ? 0 : fail(kExitCantCreate, "cannot write to standard output.");
  }
  std::string error;
  return writeFile(*path, {&text}, error) ? 0 : fail(kExitCantCreate, error);
}

bool Tool::writeFile(const std::string& path, const std::vector<const Rendered*>& texts,
                     std::string& error) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (const Rendered* text : texts) {
    if (!out)
      break;
    out.write(text->head.data(), static_cast<std::streamsize>(text->head.size()));
    out.write(text->body.data(), static_cast<std::streamsize>(text->body.size()));
  }
  out.close();
  if (!out) {
    error = "cannot write " + path + ": " + std::strerror(errno) + ".";
    return false;
  }
  return true;
}

} // namespace KestrelTool
