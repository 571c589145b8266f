#include "kestrel/HostInterfaces.h"
#include "kestrel/Result.h"
#include "plugin/SAMIContainer.h"
#include "sami/DocumentScan.h"
#include "text/ParserUtilities.h"

#include <cstddef>
#include <mutex>
#include <new>
#include <string_view>
#include <vector>

namespace Kestrel {
namespace {

// Only these two extensions, exactly as written: ".SMI" is refused, and so is a URL whose
// last "." is followed by anything else ("a.smi?x").
bool hasSubtitleExtension(std::string_view location) {
  const std::size_t dot = location.rfind('.');
  if (dot == std::string_view::npos)
    return false;
  const std::string_view extension = location.substr(dot);
  return extension == ".sami" || extension == ".smi";
}

BufferString bytesOf(std::string_view text) {
  return text.empty() ? BufferString()
                      : BufferString(text.data(), static_cast<int32_t>(text.size()));
}

} // namespace

int32_t SAMIContainer::open(SourceDescriptor* source) {
  std::lock_guard<std::recursive_mutex> guard(containerLock());
  // The engine cannot take an exception: memory running out anywhere in here fails the
  // open, and everything made so far goes back. Tracks already stored stay with the
  // container, which releases them when it goes.
  try {
    return openLocked(source);
  } catch (const std::bad_alloc&) {
    return kResultFailure;
  }
}

int32_t SAMIContainer::openLocked(SourceDescriptor* source) {
  // Reading asks the engine for the code-page settings, and the tracks need its
  // identifiers: nothing can be opened before attach.
  if (containerHost == nullptr)
    return kResultFailure;
  if (source == nullptr || source->url == nullptr)
    return kResultFailure;
  const std::string_view location = source->url->view();
  if (location.empty() || !hasSubtitleExtension(location))
    return kResultFailure;

  std::u16string path; // handed to the OS layer in the form it takes
  if (pathFromUrl(*source->url, &path) != kResultOk)
    return kResultFailure;
  BufferString text;
  if (!ParserUtilities::readTextFile(path, containerHost, &text, -1) || text.isEmpty())
    return kResultFailure;

  // What each track's stream is made of is taken from the scan before the scan goes, and
  // the streams are made after: they then take the memory of the scan's tables (in a
  // document of many classes, tens of thousands of key records) rather than fresh memory.
  struct Made {
    EntryList entries;
    BufferString name;
    BufferString language;
    BufferString region;
    bool byStart;
  };
  std::vector<Made> made;
  {
    // Subtitles of real documents hold about as many bytes as the document, their style
    // markup included, so the store's first block is the document's length; sixteen times as
    // many (and 16 MiB for small files) only a document built to blow up reaches. It fails
    // like an unreadable file: the store stays as it was.
    const std::size_t length = text.length > 0 ? static_cast<std::size_t>(text.length) : 0;
    DocumentScan scan(length);
    scan.limitText(16 * length + (std::size_t{16} << 20));
    scan.scan(text.data);
    if (scan.exhausted())
      return kResultFailure;
    text.release(); // the subtitles are in the store; the document is not needed any more

    // A track without a rule of its own is named after the file.
    const std::size_t slash = location.rfind('/');
    const std::string_view fileName =
        slash == std::string_view::npos ? std::string_view() : location.substr(slash + 1);
    const BufferString defaultName(fileName.data(), static_cast<int32_t>(fileName.size()));

    made.reserve(scan.trackCount());
    scan.eachTrack([&](const DocumentScan::Track& track) {
      if (track.entries->empty())
        return;
      std::string_view language;
      std::string_view region;
      if (track.lang) {
        // "en-US": language "en", region "US"; the value is taken as the sheet wrote it.
        const std::string_view tag = *track.lang;
        const std::size_t dash = tag.find('-');
        language = tag.substr(0, dash);
        if (dash != std::string_view::npos)
          region = tag.substr(dash + 1);
      }
      // The container takes the entries; every track of this open shares the texts.
      made.push_back({EntryList{std::move(*track.entries), scan.texts()},
                      track.name ? bytesOf(*track.name) : defaultName, bytesOf(language),
                      bytesOf(region), track.byStart});
    });
  }
  for (Made& track : made)
    (void)createStream(track.entries, std::move(track.name), std::move(track.language),
                       std::move(track.region), track.byStart);
  return kResultOk;
}

} // namespace Kestrel
