#include "engine/Settings.h"

#include "kestrel/HostInterfaces.h"
#include "kestrel/Setting.h"

namespace Kestrel {
namespace {

inline constexpr int32_t kSettingKind = 4;

SettingValue querySetting(ContainerHost* host, const char* section, const char* key) {
  SettingValue value;
  value.tag = kSettingNone; // neither boolean nor string until the engine answers
  {
    const Setting setting(kSettingKind, BufferString(section), BufferString(key));
    host->getSetting(&setting, &value);
  }
  return value;
}

} // namespace

std::optional<bool> readBooleanSetting(ContainerHost* host, const char* section, const char* key) {
  if (host == nullptr)
    return std::nullopt;
  const SettingValue value = querySetting(host, section, key);
  if (value.tag != kSettingBoolean)
    return std::nullopt;
  return value.payload.boolean != 0;
}

std::optional<std::string> readStringSetting(ContainerHost* host, const char* section,
                                             const char* key) {
  if (host == nullptr)
    return std::nullopt;
  const SettingValue value = querySetting(host, section, key);
  if (value.tag != kSettingString)
    return std::nullopt;
  // The payload points to a record whose first member points to the text; the engine
  // keeps it, so copy the text before anything else happens.
  if (value.payload.string == nullptr)
    return std::string();
  const char* text = *static_cast<const char* const*>(value.payload.string);
  return std::string(text != nullptr ? text : "");
}

} // namespace Kestrel
