#pragma once

#include <string>
#include <string_view>

// The element's own calls to the operating system: finding its own file, and the private copy of a
// document that reached it without a file name.
namespace KestrelGst {

/// The folder of the shared object this code was loaded from; empty when unknown.
[[nodiscard]] std::string moduleDirectory();

/// True when path names an existing file.
[[nodiscard]] bool fileExists(const std::string& path);

/// Writes bytes to a new file only this user can read, named "*.smi" so that the container
/// accepts it, and returns its path; empty with error set when that fails.
[[nodiscard]] std::string writePrivateCopy(std::string_view bytes, std::string& error);

/// Removes a file made by writePrivateCopy.
void removePrivateCopy(const std::string& path);

} // namespace KestrelGst
