#include "Session.h"

#include "kestrel/MediaBuffer.h"
#include "kestrel/NodeList.h"
#include "kestrel/Result.h"

#include <algorithm>
#include <climits>
#include <filesystem>

namespace KestrelTool {
namespace {

// The latest time the tool's clock shows. The stream compares clock + 500 with a start, so
// the clock stays 500 below the largest time it can report.
constexpr int32_t kLatestClock = INT32_MAX - 500;

constexpr uint64_t kContainerId = 0x4B53414D49; // any value; the container only stores it

} // namespace

Session::Session(std::string preferredLanguage, CodePageSettings settings)
    : containerHost_(std::move(preferredLanguage), std::move(settings)) {}

Session::~Session() { close(); }

bool Session::create(int32_t (*getPlugin)(Kestrel::PluginHost*, Kestrel::Plugin**)) {
  Kestrel::Plugin* plugin = nullptr;
  getPlugin(&pluginHost_, &plugin);
  if (plugin == nullptr) {
    error_ = "the plug-in could not create its container.";
    return false;
  }
  plugin_.adopt(plugin);
  const Kestrel::BufferString id(Kestrel::kContainerInterfaceId);
  void* interface = nullptr;
  if (plugin_->queryInterface(&id, &interface) != Kestrel::kResultOk || interface == nullptr) {
    error_ = "the plug-in offers no container interface.";
    return false;
  }
  // The container interface of a subtitle container carries the two subtitle slots.
  container_ = static_cast<Kestrel::SubtitleContainerInterface*>(
      static_cast<Kestrel::ContainerInterface*>(interface));
  // The container's identifier is the engine's own business; stream identifiers come from
  // newIdentifier and so start at 1, which keeps them short on the command line.
  container_->attach(&containerHost_, /*id=*/kContainerId);
  return true;
}

uint8_t Session::probe(const std::string& url, std::vector<Kestrel::StreamFormat>& formats) {
  const Kestrel::BufferString location(url.c_str());
  Kestrel::SourceDescriptor source;
  source.url = &location;
  return container_->probe(&source, 0, 0, &formats);
}

int32_t Session::open(const std::string& url) {
  const Kestrel::BufferString location(url.c_str());
  Kestrel::SourceDescriptor source;
  source.url = &location;
  const int32_t result = container_->open(&source);
  if (result != Kestrel::kResultOk)
    return result;

  uint64_t programId = 0;
  {
    const Kestrel::NodeList<unsigned long long> programs = container_->getProgramIds();
    if (programs.head != nullptr)
      programId = programs.head->value;
  } // the list's nodes go back to the plug-in's allocator here
  container_->selectProgram(programId);

  for (Kestrel::StreamInterface* stream : containerHost_.streams()) {
    Kestrel::BufferString name;
    Kestrel::BufferString language;
    Kestrel::BufferString region;
    stream->getDescription(&name, &language, &region, 0);
    streams_.push_back({stream, stream->streamId, name.toStdString(), language.toStdString(),
                        region.toStdString()});
  }
  return result;
}

const StreamDescription* Session::selected() const {
  const auto id = containerHost_.selectedStream();
  return id ? find(*id) : nullptr;
}

const StreamDescription* Session::find(uint64_t id) const {
  for (const auto& stream : streams_)
    if (stream.id == id)
      return &stream;
  return nullptr;
}

namespace {

/// A sample's time and text handed to take, then the sample given back to the container's
/// allocator (also when take throws).
template <class Handler> void hand(Kestrel::MediaChunk* chunk, const Handler& take) {
  struct Release {
    Kestrel::MediaChunk* chunk;
    ~Release() { chunk->release(); }
  } release{chunk};
  const int32_t length = std::clamp(chunk->used, 0, std::max(chunk->size, 0));
  const char* data = chunk->lockData();
  struct Unlock {
    Kestrel::MediaChunk* chunk;
    ~Unlock() { chunk->unlockData(); }
  } unlock{chunk};
  take(static_cast<uint32_t>(chunk->timestamp), static_cast<uint32_t>(chunk->duration),
       data != nullptr ? std::string_view(data, static_cast<size_t>(length)) : std::string_view());
}

} // namespace

uint32_t Session::lastEnd(const StreamDescription& stream) {
  // Forwards, the seek point after every start is the last subtitle's end.
  uint32_t point = 0;
  if (stream.stream->getSeekPoint(0, UINT32_MAX, &point) != Kestrel::kResultOk)
    return 0;
  return point;
}

template <class Handler>
Session::ReadResult Session::readOne(Kestrel::StreamInterface* stream, const Handler& take) {
  Kestrel::MediaChunk* chunk = nullptr;
  const int32_t result = stream->readStream(&chunk);
  if (chunk == nullptr) {
    if (result == Kestrel::kResultOk)
      return ReadResult::Ended;
    return result == Kestrel::kResultNotYet ? ReadResult::NotYet : ReadResult::Failed;
  }
  hand(chunk, take);
  return ReadResult::Delivered;
}

Session::ReadResult Session::readOne(Kestrel::StreamInterface* stream, Cue& cue) {
  return readOne(stream, [&cue](uint32_t start, uint32_t duration, std::string_view text) {
    cue.markup.assign(text);
    cue.start = start;
    cue.duration = duration;
  });
}

Session::Reading::Reading(Session& session, const StreamDescription& stream)
    : stream_(stream.stream), sessionClock_(&session.clock_) {
  latest_.now = kLatestClock;
  stream_->setClock(&latest_);
  stream_->setRate(1000);
  stream_->seekStream(0, nullptr, 0);
}

Session::Reading::~Reading() { stream_->setClock(sessionClock_); }

bool Session::Reading::next(const Take& take, ReadShortfall& shortfall) {
  if (ended_)
    return false;
  const ReadResult result = readOne(stream_, take);
  if (result == ReadResult::Delivered)
    return true;
  if (result == ReadResult::NotYet)
    shortfall.unreachable = true;
  else if (result == ReadResult::Failed)
    shortfall.failed = true;
  ended_ = true;
  return false;
}

void Session::readEach(const StreamDescription& description, ReadShortfall& shortfall,
                       const Take& take) {
  Reading reading(*this, description);
  while (reading.next(take, shortfall)) {
  }
}

std::vector<Cue> Session::readAll(const StreamDescription& description, ReadShortfall& shortfall) {
  std::vector<Cue> cues;
  readEach(description, shortfall,
           [&cues](uint32_t start, uint32_t duration, std::string_view text) {
             cues.push_back({start, duration, std::string(text)});
           });
  return cues;
}

ReadShortfall Session::play(const std::vector<const StreamDescription*>& streams, uint32_t from,
                            bool fromGiven, int32_t rate,
                            const std::function<void(int32_t clockTime)>& wait,
                            const std::function<void(const DeliveredSample&)>& deliver) {
  const bool forward = rate > 0;
  // The engine knows when the next subtitle is due only by reading; the tool reads ahead once
  // to learn the start times, so that its clock can jump from one to the next.
  ReadShortfall ahead;
  std::vector<int32_t> times;
  uint64_t lastEnd = 0;
  for (const auto* stream : streams) {
    for (const auto& cue : readAll(*stream, ahead)) {
      times.push_back(
          static_cast<int32_t>(std::clamp<int64_t>(int64_t{cue.start} - 500, 0, kLatestClock)));
      lastEnd = std::max(lastEnd, uint64_t{cue.start} + cue.duration);
    }
  }
  const uint32_t start =
      fromGiven || forward ? from : static_cast<uint32_t>(std::min<uint64_t>(lastEnd, UINT32_MAX));
  const auto startClock = static_cast<int32_t>(std::min<uint64_t>(start, kLatestClock));
  times.push_back(startClock);
  if (forward) {
    std::sort(times.begin(), times.end());
    std::erase_if(times, [startClock](int32_t t) { return t < startClock; });
  } else {
    std::sort(times.begin(), times.end(), std::greater<>());
    std::erase_if(times, [startClock](int32_t t) { return t > startClock; });
  }
  times.erase(std::unique(times.begin(), times.end()), times.end());

  for (const auto* stream : streams) {
    stream->stream->setClock(&clock_);
    stream->stream->setRate(rate);
    stream->stream->seekStream(start, nullptr, 0);
  }
  std::vector<bool> ended(streams.size(), false);
  size_t endedCount = 0;
  ReadShortfall shortfall;
  for (const int32_t time : times) {
    if (endedCount == streams.size())
      break;
    wait(time);
    clock_.now = time;
    for (size_t i = 0; i < streams.size(); ++i) {
      while (!ended[i]) {
        DeliveredSample sample{streams[i], time, {}};
        const auto result = readOne(streams[i]->stream, sample.cue);
        if (result == ReadResult::NotYet)
          break;
        if (result == ReadResult::Failed)
          shortfall.failed = true; // the stream stops here
        if (result == ReadResult::Ended || result == ReadResult::Failed) {
          ended[i] = true;
          ++endedCount;
          break;
        }
        deliver(sample);
      }
    }
  }
  shortfall.failed = shortfall.failed || ahead.failed;
  // Subtitles left unread after a failed read-ahead are the failure's, not the clock's.
  shortfall.unreachable = endedCount != streams.size() && !ahead.failed;
  return shortfall;
}

void Session::close() {
  if (container_ != nullptr)
    container_->closeProgram(false);
  streams_.clear();
  containerHost_.deleteStreams();
  container_ = nullptr;
  plugin_.reset();
}

std::string absolutePath(const std::string& path) {
  std::error_code ec;
  auto absolute = std::filesystem::absolute(path, ec);
  if (ec)
    absolute = path;
  return absolute.lexically_normal().string();
}

std::string fileUrl(const std::string& path) {
  const std::string text = absolutePath(path);
  std::string url = "file://";
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                       (byte >= '0' && byte <= '9') || c == '-' || c == '.' || c == '_' ||
                       c == '~' || c == '/';
    if (plain) {
      url += c;
    } else {
      url += '%';
      url += kHex[byte >> 4];
      url += kHex[byte & 0x0F];
    }
  }
  return url;
}

} // namespace KestrelTool
