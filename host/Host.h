#pragma once

#include "kestrel/BufferString.h"
#include "kestrel/HostInterfaces.h"
#include "kestrel/Plugin.h"
#include "kestrel/Ref.h"
#include "kestrel/StreamInterface.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace KestrelTool {

using Kestrel::Ref;

/// Accepts the one text format the tool can show and counts the destruction notices.
class ToolPluginHost final : public Kestrel::PluginHost {
public:
  uint8_t checkFormat(const Kestrel::BufferString* format) override;
  void pluginDestroying(Kestrel::Plugin* plugin) override;
  void pluginDestroyed(Kestrel::Plugin* plugin) override;

  int32_t destroyingCount = 0;
  int32_t destroyedCount = 0;
};

/// The code-page settings the tool answers when the plug-in reads a file.
struct CodePageSettings {
  bool overrideEmbedded = false;   // "OverrideEmbedded": false lets a file's signature decide
  std::optional<std::string> name; // "Name": absent leaves the setting unanswered
};

/// The engine's side of one container: identifiers, the viewer's language, the "CodePage"
/// settings, and the streams the container announces. Announced streams are ours: they are
/// deleted with this object (after the program was closed).
class ToolContainerHost final : public Kestrel::ContainerHost {
public:
  ToolContainerHost(std::string preferredLanguage, CodePageSettings settings);
  ~ToolContainerHost() override;
  ToolContainerHost(const ToolContainerHost&) = delete;
  ToolContainerHost& operator=(const ToolContainerHost&) = delete;

  uint64_t newIdentifier() override;
  Kestrel::BufferString getPreferredLanguage() override;
  int32_t getSetting(const Kestrel::Setting* setting, Kestrel::SettingValue* value) override;
  void addStream(Kestrel::StreamInterface* stream) override;
  void removeStream(uint64_t streamId) override;
  void selectStream(uint64_t streamId, int32_t selected) override;

  /// Announced streams in the order of announcement (ascending identifiers).
  [[nodiscard]] const std::vector<Kestrel::StreamInterface*>& streams() const;
  [[nodiscard]] std::optional<uint64_t> selectedStream() const { return selected_; }
  /// Deletes every announced stream; the container must have closed its program first.
  void deleteStreams();

private:
  struct StreamDelete {
    void operator()(Kestrel::StreamInterface* stream) const { delete stream; }
  };
  uint64_t nextIdentifier_ = 1;
  std::string preferredLanguage_;
  CodePageSettings settings_;
  Kestrel::BufferString nameAnswer_; // the "Name" payload points here while the plug-in reads it
  std::vector<std::unique_ptr<Kestrel::StreamInterface, StreamDelete>> owned_;
  std::vector<Kestrel::StreamInterface*> streams_;
  std::optional<uint64_t> selected_;
};

/// A media clock the tool sets by hand: the plug-in reads whatever time it was given last.
class ToolClock final : public Kestrel::MediaClock {
public:
  int32_t getMediaTime() override { return now; }
  int32_t now = -1; // no time until the tool sets one
};

/// The viewer's language from the locale (LC_ALL, LC_MESSAGES, LANG): "ko_KR.UTF-8" gives
/// "ko-KR"; "C" and "POSIX" give nothing.
[[nodiscard]] std::string preferredLanguageFromLocale();

} // namespace KestrelTool
