#include "PluginLibrary.h"

#include "kestrel/Logging.h"

#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#ifndef KESTREL_TOOL_PLUGINDIR_FROM_BINDIR
#define KESTREL_TOOL_PLUGINDIR_FROM_BINDIR "../lib/kestrel/plugins"
#endif

namespace KestrelTool {
namespace {

constexpr const char* kPluginFileName = "libkestrel_sami.so";

std::filesystem::path executableDirectory() {
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec)
    return {};
  return self.parent_path();
}

} // namespace

std::string PluginLibrary::defaultPath() {
  const auto bin = executableDirectory();
  if (bin.empty())
    return kPluginFileName; // left to the ordinary library search
  // Installed: the private plug-in directory under libdir as configured (lib/<multiarch> on
  // some systems). Built: the build tree puts programs in bin/ and libraries in lib/.
  for (const char* relative : {KESTREL_TOOL_PLUGINDIR_FROM_BINDIR, "../lib"}) {
    const auto candidate = (bin / relative / kPluginFileName).lexically_normal();
    std::error_code ec;
    if (std::filesystem::exists(candidate, ec))
      return candidate.string();
  }
  return (bin / KESTREL_TOOL_PLUGINDIR_FROM_BINDIR / kPluginFileName).lexically_normal().string();
}

std::string PluginLibrary::versionOf(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  static constexpr std::string_view kMarker = "kestrel-sami-plugin-version ";
  const size_t at = bytes.find(kMarker);
  if (at == std::string::npos)
    return {};
  const size_t start = at + kMarker.size();
  const size_t end = bytes.find('\0', start);
  if (end == std::string::npos || end - start > 200)
    return {};
  return bytes.substr(start, end - start);
}

bool PluginLibrary::load(const std::string& path, bool verbose) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    error_ = "the plug-in " + path + " does not exist; build it, or name it with --plugin PATH.";
    return false;
  }
  if (verbose) {
    const char* current = std::getenv("KESTREL_LOG");
    if (current == nullptr || *current == '\0')
      setenv("KESTREL_LOG", "stderr", 1);
  } else {
    // Quiet unless asked: the library's messages are only watched.
    unsetenv("KESTREL_LOG");
  }
  // The plug-in asks for the logging library by name once, on its first message; loading it
  // here with RTLD_GLOBAL makes that lookup find this copy. Built, it sits beside the plug-in;
  // installed, in the directory above the plug-ins.
  const auto pluginDir = std::filesystem::path(path).parent_path();
  const auto logging = pluginDir / Kestrel::kLoggingLibraryName;
  const auto installedLogging = pluginDir.parent_path() / Kestrel::kLoggingLibraryName;
  void* loggingHandle = dlopen(logging.c_str(), RTLD_NOW | RTLD_GLOBAL);
  if (loggingHandle == nullptr)
    loggingHandle = dlopen(installedLogging.c_str(), RTLD_NOW | RTLD_GLOBAL);
  if (loggingHandle == nullptr)
    loggingHandle = dlopen(Kestrel::kLoggingLibraryName, RTLD_NOW | RTLD_GLOBAL);
  if (loggingHandle == nullptr && verbose) {
    error_ = "-v needs the logging library " + std::string(Kestrel::kLoggingLibraryName) +
             " beside the plug-in (" + logging.string() + "), and it is not there.";
    return false;
  }
  if (loggingHandle != nullptr) { // another engine's library may not offer watching
    logWatch_.observe = reinterpret_cast<LogObserveFn>(dlsym(loggingHandle, kLogObserveName));
    logWatch_.observeFunction =
        reinterpret_cast<LogObserveFunctionFn>(dlsym(loggingHandle, kLogObserveFunctionName));
  }
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = dlerror();
    error_ = "the plug-in " + path +
             " could not be loaded: " + (reason != nullptr ? reason : "unknown reason") + ".";
    return false;
  }
  getPlugin_ = reinterpret_cast<GetPluginFn>(dlsym(handle, "_getPlugin"));
  if (getPlugin_ == nullptr) {
    error_ = path + " is not a Kestrel plug-in: it has no _getPlugin entry.";
    return false;
  }
  return true;
}

} // namespace KestrelTool
