#pragma once

#include <string>
#include <string_view>

namespace KestrelTool {

/// A stream's file when the streams are written side by side: created in stream order (no
/// file after one that cannot be created), then emptied and written by the thread that
/// renders the stream. Emptying a file that held megabytes takes the kernel milliseconds,
/// which the threads then spend side by side.
class OutputFile {
public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  /// Opens path for writing, creating it when missing; its bytes stay until empty().
  bool create(const std::string& path);
  /// Cuts a regular file to nothing, as opening it to be written over would have.
  void empty();
  /// Writes all of bytes, unless an earlier call failed.
  void write(std::string_view bytes);
  /// Closes the file; false when anything done to it failed.
  bool close();
  /// The errno value of the first failure, or 0.
  [[nodiscard]] int error() const { return error_; }

private:
  int fd_ = -1;
  int error_ = 0;
};

} // namespace KestrelTool
