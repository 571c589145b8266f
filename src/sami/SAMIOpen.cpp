#include "kestrel/HostInterfaces.h"
#include "kestrel/Result.h"
#include "plugin/SAMIContainer.h"
#include "sami/DocumentScan.h"
#include "text/ParserUtilities.h"

#include <mutex>
#include <string_view>

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

} // namespace

int32_t SAMIContainer::open(SourceDescriptor* source) {
  std::lock_guard<std::recursive_mutex> guard(containerLock());
  // Reading asks the engine for the code-page settings, and the tracks need its
  // identifiers: nothing can be opened before attach.
  if (containerHost == nullptr)
    return kResultFailure;
  if (source == nullptr || source->url == nullptr)
    return kResultFailure;
  const std::string_view location = source->url->view();
  if (location.empty() || !hasSubtitleExtension(location))
    return kResultFailure;

  BufferString path;
  if (pathFromUrl(*source->url, &path) != kResultOk)
    return kResultFailure;
  BufferString text;
  if (!ParserUtilities::readTextFile(path, containerHost, &text, -1) || text.isEmpty())
    return kResultFailure;

  DocumentScan scan(chunkAllocator());
  scan.scan(text.data);
  text.release(); // the subtitles are copies; the document is not needed any more

  // A track without a rule of its own is named after the file.
  const std::size_t slash = location.rfind('/');
  const std::string_view fileName =
      slash == std::string_view::npos ? std::string_view() : location.substr(slash + 1);
  const BufferString defaultName(fileName.data(), static_cast<int32_t>(fileName.size()));

  for (const DocumentScan::Track& track : scan.tracks()) {
    if (track.chunks->empty())
      continue;
    BufferString name = defaultName;
    BufferString language;
    BufferString region;
    if (track.name != nullptr)
      name = *track.name;
    if (track.lang != nullptr) {
      // "en-US": language "en", region "US"; the value is taken as the sheet wrote it.
      const std::string_view tag = track.lang->view();
      const std::size_t dash = tag.find('-');
      const std::string_view head = tag.substr(0, dash);
      language = BufferString(head.data(), static_cast<int32_t>(head.size()));
      if (dash != std::string_view::npos) {
        const std::string_view tail = tag.substr(dash + 1);
        region = BufferString(tail.data(), static_cast<int32_t>(tail.size()));
      }
    }
    if (createStream(*track.chunks, name, language, region))
      track.chunks->clear(); // the container owns them now; any left go back with the scan
  }
  return kResultOk;
}

} // namespace Kestrel
