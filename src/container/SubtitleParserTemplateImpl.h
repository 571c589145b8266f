#pragma once

// The bodies of SubtitleParserTemplate. Only the file that knows the format includes this,
// and instantiates the template there for it.

#include "container/File.h"
#include "container/LanguageCodes.h"
#include "container/OverlayStream.h"
#include "container/SubtitleParserTemplate.h"
#include "kestrel/HostInterfaces.h"
#include "kestrel/Result.h"
#include "platform/PathEncoding.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace Kestrel {

template <class Format>
SubtitleParserTemplate<Format>::SubtitleParserTemplate()
    : location_(StandardAllocator<unsigned char>::instance()),
      preferredLanguage_(StandardAllocator<unsigned char>::instance()),
      chunkAllocator_(new MediaBufferAllocator()) {}

template <class Format> SubtitleParserTemplate<Format>::~SubtitleParserTemplate() {
  // A program that was never closed still owns its entries, and streams that never reached
  // the engine have no other owner: both would leak otherwise. Announced streams are left
  // alone: the engine may already have deleted them.
  {
    Guard guard(lock_);
    for (auto& [id, track] : tracks_)
      retireTrack(track, /*emptyStream=*/false);
    tracks_.clear();
  }
  delete chunkAllocator_;
}

template <class Format>
void SubtitleParserTemplate<Format>::retireTrack(Track& track, bool emptyStream) {
  if (track.stream != nullptr && (emptyStream || !track.announced))
    track.stream->forgetEntries();
  track.entries = EntryList(); // the texts go with the last track of their open
  if (!track.announced)
    delete track.stream; // the engine never saw it
  track.stream = nullptr;
  track.announced = false;
}

template <class Format> BufferString SubtitleParserTemplate<Format>::getLocation() {
  Guard guard(lock_); // open writes it
  return BufferString(location_, StandardAllocator<unsigned char>::instance());
}

template <class Format> int32_t SubtitleParserTemplate<Format>::reserved9() { return 0; }

template <class Format>
NodeList<unsigned long long> SubtitleParserTemplate<Format>::getProgramIds() {
  NodeList<unsigned long long> ids(StandardAllocator<Node<unsigned long long>>::instance());
  Guard guard(lock_); // the identifier is fixed on first use
  ContainerHost* host = this->containerHost;
  if (programId_ == UINT64_MAX && host != nullptr)
    programId_ = host->newIdentifier();
  ids.append(programId_);
  return ids;
}

template <class Format>
BufferString SubtitleParserTemplate<Format>::reserved11(int32_t /*a*/, int32_t /*b*/) {
  return BufferString(StandardAllocator<unsigned char>::instance());
}

template <class Format> int32_t SubtitleParserTemplate<Format>::selectProgram(uint64_t programId) {
  Guard guard(lock_);
  ContainerHost* host = this->containerHost;
  if (programId != programId_ || host == nullptr)
    return kResultFailure;

  preferredLanguage_ = host->getPreferredLanguage();
  // The host may call back into us from addStream, even close the program: walk the
  // identifiers, and announce only what is still ours.
  std::vector<uint64_t> ids;
  ids.reserve(tracks_.size());
  for (const auto& entry : tracks_)
    ids.push_back(entry.first);
  for (const uint64_t id : ids) {
    const auto found = tracks_.find(id);
    if (found == tracks_.end())
      continue;
    // Recorded first: a host that calls back into us from addStream sees it as the engine's.
    found->second.announced = true;
    host->addStream(found->second.stream);
  }
  if (tracks_.empty())
    return kResultOk;

  std::optional<uint64_t> chosen; // an identifier may be 0, so "none yet" is its own state
  if (!preferredLanguage_.isEmpty() && tracks_.size() > 1) {
    std::string_view lang = preferredLanguage_.view();
    std::string_view region;
    if (const auto dash = lang.find('-'); dash != std::string_view::npos) {
      region = lang.substr(dash + 1);
      lang = lang.substr(0, dash);
    }
    const std::string altLang = languageCounterpart(lang);
    for (const auto& [id, track] : tracks_) {
      const OverlayStream* stream = track.stream;
      const std::string_view streamLanguage = stream->languageCode().view();
      // Korean files often write "kr-KR": "kr" is Kanuri, which is not spoken in Korea, so
      // with that region the stream counts as Korean too. Only too: it still matches a viewer
      // of "kr" or "kau", as its tags read. The tags themselves stay as written.
      const bool koreanTaggedKr = streamLanguage == "kr" && stream->regionCode().view() == "KR";
      const bool matches = streamLanguage == lang || streamLanguage == altLang ||
                           (koreanTaggedKr && (lang == "ko" || altLang == "ko"));
      if (!matches)
        continue;
      // The last stream matching language and region wins; failing that, the first one
      // matching the language.
      if (!region.empty() && stream->regionCode().view() == region)
        chosen = id;
      if (!chosen)
        chosen = id;
    }
  }
  if (!chosen)
    chosen = tracks_.begin()->first;
  host->selectStream(*chosen, /*selected=*/1);
  return kResultOk;
}

template <class Format> int32_t SubtitleParserTemplate<Format>::closeProgram(bool keep) {
  if (keep)
    return kResultOk;
  Guard guard(lock_);
  ContainerHost* host = this->containerHost;
  // Take the map first: a host that calls back into the container from removeStream finds
  // the program already closed.
  std::map<uint64_t, Track> closing;
  closing.swap(tracks_);
  for (auto& [id, track] : closing) {
    retireTrack(track, /*emptyStream=*/true);
    if (host != nullptr)
      host->removeStream(id);
  }
  return kResultOk;
}

template <class Format> int32_t SubtitleParserTemplate<Format>::getSourceSize(uint64_t* size) {
  if (size == nullptr)
    return kResultFailure;
  Guard guard(lock_); // open writes the location
  File file;
  if (file.open(Platform::pathToWide(location_.view())) != File::kOpened)
    return kResultFailure;
  *size = file.size();
  return kResultOk;
}

template <class Format> bool SubtitleParserTemplate<Format>::reserved20(int32_t /*value*/) {
  return false;
}

template <class Format>
bool SubtitleParserTemplate<Format>::createStream(EntryList& entries, BufferString name,
                                                  BufferString language, BufferString region,
                                                  bool inOrder) {
  Guard guard(lock_);
  ContainerHost* host = this->containerHost;
  if (host == nullptr)
    return false;
  // Stable, so entries with the same start keep their document order. Parsers mostly
  // hand them over in order already, which one pass confirms unless they know it.
  const auto byStart = [](const StoredEntry& a, const StoredEntry& b) { return a.start < b.start; };
  std::vector<StoredEntry>& list = entries.entries;
  if (!inOrder && !std::is_sorted(list.begin(), list.end(), byStart))
    std::stable_sort(list.begin(), list.end(), byStart);
  const uint64_t id = host->newIdentifier();
  // Everything that can fail comes first, so that a failure leaves the store as it was.
  // The stream reads the entries where the track keeps them: moving the vector keeps its
  // storage where it is.
  auto stream = std::make_unique<OverlayStream>(
      this, lock_, *chunkAllocator_, streamFormat(), id, std::span<const StoredEntry>(list),
      entries.texts.get(), std::move(name), std::move(language), std::move(region));
  // Identifiers mostly rise, so each track goes in at the end of the map. Should the node
  // not be had, the entries stay with the caller, who still owns them.
  auto slot = tracks_.lower_bound(id);
  if (slot != tracks_.end() && slot->first == id)
    retireTrack(slot->second, /*emptyStream=*/true); // a host that repeats an identifier
  else
    slot = tracks_.emplace_hint(slot, id, Track{});
  slot->second.entries = std::move(entries);
  entries = EntryList();                  // moved from: empty, as the caller is told
  slot->second.stream = stream.release(); // the store holds it until the engine is given it
  return true;
}

} // namespace Kestrel
