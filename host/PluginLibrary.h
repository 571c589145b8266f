#pragma once

#include "kestrel/Plugin.h"
#include "logging/LogObserver.h"

#include <string>

namespace KestrelTool {

/// The plug-in shared object, loaded the way an engine loads it. It stays loaded for the rest
/// of the process: objects and strings it handed out are freed by its own code, and the
/// process-wide objects it keeps must not lose their module.
class PluginLibrary {
public:
  using GetPluginFn = int32_t (*)(Kestrel::PluginHost*, Kestrel::Plugin**);

  /// Loads the library at path. The logging library beside it (or found by name) is loaded
  /// first, so that the plug-in's own lookup by name finds it, and its messages can be
  /// watched; with verbose set it is also switched on for standard error, and must be there.
  /// On failure, error() says why in one sentence.
  [[nodiscard]] bool load(const std::string& path, bool verbose);

  [[nodiscard]] GetPluginFn getPlugin() const { return getPlugin_; }
  /// How to watch the plug-in's messages; null when no logging library of ours is loaded.
  [[nodiscard]] LogObserveFn logObserve() const { return logWatch_.observe; }
  /// The same, with the watching of one function's messages when the library offers it.
  [[nodiscard]] LogWatch logWatch() const { return logWatch_; }
  [[nodiscard]] const std::string& error() const { return error_; }

  /// Where the plug-in sits relative to this program: beside it as installed, or as built.
  [[nodiscard]] static std::string defaultPath();

  /// The version a plug-in file carries and the converter library it loads, read from the
  /// file ("0.2.0 icu libicuuc.so.72"); empty when the file has none or can't be read.
  [[nodiscard]] static std::string versionOf(const std::string& path);

private:
  GetPluginFn getPlugin_ = nullptr;
  LogWatch logWatch_;
  std::string error_;
};

} // namespace KestrelTool
