#include "Host.h"

#include "kestrel/Setting.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace KestrelTool {

uint8_t ToolPluginHost::checkFormat(const Kestrel::BufferString* format) {
  return format != nullptr && *format == "UTF8" ? 0 : 1;
}

void ToolPluginHost::pluginDestroying(Kestrel::Plugin*) { ++destroyingCount; }

void ToolPluginHost::pluginDestroyed(Kestrel::Plugin*) { ++destroyedCount; }

ToolContainerHost::ToolContainerHost(std::string preferredLanguage, CodePageSettings settings)
    : preferredLanguage_(std::move(preferredLanguage)), settings_(std::move(settings)) {
  if (settings_.name)
    nameAnswer_ = Kestrel::BufferString(settings_.name->c_str());
}

ToolContainerHost::~ToolContainerHost() = default;

uint64_t ToolContainerHost::newIdentifier() { return nextIdentifier_++; }

Kestrel::BufferString ToolContainerHost::getPreferredLanguage() {
  // Our allocator: the plug-in frees the string through the allocator recorded in it.
  return Kestrel::BufferString(preferredLanguage_.c_str());
}

int32_t ToolContainerHost::getSetting(const Kestrel::Setting* setting,
                                      Kestrel::SettingValue* value) {
  if (setting == nullptr || value == nullptr || setting->section.view() != "CodePage")
    return 0;
  if (setting->key.view() == "OverrideEmbedded") {
    value->tag = Kestrel::kSettingBoolean;
    value->payload.boolean = settings_.overrideEmbedded ? 1 : 0;
  } else if (setting->key.view() == "Name" && settings_.name) {
    value->tag = Kestrel::kSettingString;
    value->payload.string = &nameAnswer_;
  }
  return 0;
}

void ToolContainerHost::addStream(Kestrel::StreamInterface* stream) {
  if (stream == nullptr)
    return;
  // selectProgram may announce the same streams again; each is owned once.
  for (const auto& owned : owned_)
    if (owned.get() == stream)
      return;
  owned_.emplace_back(stream);
  streams_.push_back(stream);
}

void ToolContainerHost::removeStream(uint64_t streamId) {
  for (auto it = streams_.begin(); it != streams_.end(); ++it) {
    if ((*it)->streamId == streamId) {
      streams_.erase(it); // forgotten, but still ours to delete
      return;
    }
  }
}

void ToolContainerHost::selectStream(uint64_t streamId, int32_t selected) {
  if (selected != 0)
    selected_ = streamId;
}

const std::vector<Kestrel::StreamInterface*>& ToolContainerHost::streams() const {
  return streams_;
}

void ToolContainerHost::deleteStreams() {
  streams_.clear();
  owned_.clear();
}

std::string preferredLanguageFromLocale() {
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value == nullptr || *value == '\0')
      continue;
    std::string tag(value);
    tag = tag.substr(0, tag.find_first_of(".@"));
    if (tag == "C" || tag == "POSIX")
      return {};
    std::replace(tag.begin(), tag.end(), '_', '-');
    return tag;
  }
  return {};
}

} // namespace KestrelTool
