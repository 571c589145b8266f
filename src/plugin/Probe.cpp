#include "kestrel/HostInterfaces.h"
#include "kestrel/Result.h"
#include "plugin/SAMIContainer.h"
#include "text/ParserUtilities.h"

#include <string>

namespace Kestrel {
namespace {

// Exactly this many bytes are read: a shorter file is not recognised.
constexpr int32_t kProbeLength = 1024;

} // namespace

uint8_t SAMIContainer::probe(SourceDescriptor* source, int32_t /*ignoredA*/, int32_t /*ignoredB*/,
                             std::vector<StreamFormat>* formats) {
  // Reading the head asks the engine for the code-page settings: without a host attached
  // there is nobody to ask, and nothing is recognised.
  if (containerHost == nullptr)
    return 0;
  if (source == nullptr || source->url == nullptr)
    return 0;
  std::u16string path; // handed to the OS layer in the form it takes
  if (pathFromUrl(*source->url, &path) != kResultOk)
    return 0;
  BufferString text;
  if (!ParserUtilities::readTextFile(path, containerHost, &text, kProbeLength))
    return 0;
  const BufferString marker("<SAMI>");
  if (BufferString::findIgnoringCase(text.text(), marker.text()) < 0)
    return 0;
  // Only the engine can say whether it takes the format; a plug-in made without an engine
  // host reports the file as not recognised rather than guess.
  PluginHost* const pluginHost = getHost();
  if (pluginHost == nullptr)
    return 0;
  const BufferString format("UTF8");
  const uint8_t verdict = pluginHost->checkFormat(&format);
  if (verdict == 0 && formats != nullptr)
    formats->push_back(streamFormat());
  return verdict;
}

} // namespace Kestrel
