#include "plugin/SAMIContainer.h"

#include "container/SubtitleParserTemplateImpl.h"
#include "kestrel/Result.h"

#include <cstring>
#include <iterator>

namespace Kestrel {
namespace {

// The identifier string lives for the life of the library, like the engine expects.
const BufferString kInterfaceId(kContainerInterfaceId, StandardAllocator<char>::instance());

} // namespace

SAMIContainer::SAMIContainer(PluginHost* pluginHost) : Plugin(pluginHost) {
  std::map<BufferString, int32_t> table;
  table.emplace(BufferString("text/x-smi"), 1);
  table.emplace(BufferString("text/x-sami"), 1);
  table.emplace(BufferString("text/xml"), 1);
  mimeTypes_ = std::move(table);
}

SAMIContainer::~SAMIContainer() { mimeTypes_.clear(); }

int32_t SAMIContainer::queryInterface(const BufferString* id, void** out) {
  // Without somewhere to write, nothing is written; any other miss answers null.
  if (out == nullptr)
    return kResultNoInterface;
  *out = nullptr;
  if (id == nullptr || !(*id == kInterfaceId))
    return kResultNoInterface;
  *out = static_cast<ContainerInterface*>(this);
  return kResultOk;
}

void SAMIContainer::reserved3(int32_t /*value*/) {}

int32_t SAMIContainer::reserved4(int32_t /*value*/) { return kResultFailure; }

int32_t SAMIContainer::getMimeTypeScore(const BufferString* mimeType) {
  if (mimeType == nullptr)
    return -1;
  const auto found = mimeTypes_.find(*mimeType);
  return found == mimeTypes_.end() ? -1 : found->second;
}

uint32_t SAMIContainer::getMimeTypeCount() { return static_cast<uint32_t>(mimeTypes_.size()); }

BufferString SAMIContainer::getMimeType(uint32_t index) {
  auto& bytes = StandardAllocator<unsigned char>::instance();
  if (index >= mimeTypes_.size())
    return BufferString(bytes);
  return BufferString(std::next(mimeTypes_.begin(), index)->first, bytes);
}

int32_t SAMIContainer::getMimeTypeScoreAt(uint32_t index) {
  if (index >= mimeTypes_.size())
    return 0;
  return std::next(mimeTypes_.begin(), index)->second;
}

FormatCode SAMIContainer::getTextFormat() { return FormatCode::fromText("UTF8"); }

template class SubtitleParserTemplate<SAMIContainer>;

} // namespace Kestrel
