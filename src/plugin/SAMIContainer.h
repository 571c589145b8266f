#pragma once

#include "container/SubtitleParserTemplate.h"
#include "kestrel/BufferString.h"
#include "kestrel/Plugin.h"

#include <cstdint>
#include <map>

namespace Kestrel {

/// The one object the plug-in creates: a Plugin followed by the subtitle container, plus
/// the MIME type table. _getPlugin hands out the Plugin part; queryInterface the container.
class SAMIContainer final : public Plugin, public SubtitleParserTemplate<SAMIContainer> {
public:
  explicit SAMIContainer(PluginHost* pluginHost);
  ~SAMIContainer() override;

  int32_t queryInterface(const BufferString* id, void** out) override; // Plugin slot 6

  uint8_t probe(SourceDescriptor* source, int32_t ignoredA, int32_t ignoredB,
                std::vector<StreamFormat>* formats) override;      // slot 2
  void reserved3(int32_t value) override;                          // slot 3: nothing
  int32_t reserved4(int32_t value) override;                       // slot 4: failure
  int32_t open(SourceDescriptor* source) override;                 // slot 5
  int32_t getMimeTypeScore(const BufferString* mimeType) override; // slot 15
  uint32_t getMimeTypeCount() override;                            // slot 16
  BufferString getMimeType(uint32_t index) override;               // slot 17
  int32_t getMimeTypeScoreAt(uint32_t index) override;             // slot 18
  FormatCode getTextFormat() override;                             // slot 19

private:
  int32_t openLocked(SourceDescriptor* source); // open's work, under the container lock

  std::map<BufferString, int32_t> mimeTypes_;
};

// Made once, in SAMIContainer.cpp.
extern template class SubtitleParserTemplate<SAMIContainer>;

} // namespace Kestrel
