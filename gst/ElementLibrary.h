#pragma once

#include "kestrel/Plugin.h"

#include <string>
#include <string_view>

// The element's calls to the operating system: finding its own file, loading the plug-in, and
// the private copy of a document that reached it without a file name.
namespace KestrelGst {

using GetPluginFn = int32_t (*)(Kestrel::PluginHost*, Kestrel::Plugin**);

/// The folder of the shared object this code was loaded from; empty when unknown.
[[nodiscard]] std::string moduleDirectory();

/// The plug-in's entry point, loading the library at path on first use. It stays loaded for
/// the rest of the process, as an engine keeps it. On failure, error says why in a sentence.
[[nodiscard]] GetPluginFn loadPlugin(const std::string& path, std::string& error);

/// True when path names an existing file.
[[nodiscard]] bool fileExists(const std::string& path);

/// Writes bytes to a new file only this user can read, named "*.smi" so that the container
/// accepts it, and returns its path; empty with error set when that fails.
[[nodiscard]] std::string writePrivateCopy(std::string_view bytes, std::string& error);

/// Removes a file made by writePrivateCopy.
void removePrivateCopy(const std::string& path);

} // namespace KestrelGst
