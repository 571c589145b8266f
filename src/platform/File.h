#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace Kestrel::Platform {

/// A file opened read-only. Only regular files open: a directory, FIFO or device fails
/// (and never blocks). Move-only; closes on destruction.
class ReadOnlyFile {
public:
  ReadOnlyFile() = default;
  ReadOnlyFile(ReadOnlyFile&& other) noexcept;
  ReadOnlyFile& operator=(ReadOnlyFile&& other) noexcept;
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
  ~ReadOnlyFile();

  /// Opens the file named by a UTF-16 path (up to its first U+0000), handed to the OS as
  /// UTF-8. Invalid on failure, including a path that is not well-formed UTF-16. When
  /// osPath is given it receives the UTF-8 form the OS was handed (untouched when there is
  /// none), for messages about the file.
  static ReadOnlyFile open(const std::u16string& widePath, std::string* osPath = nullptr);

  enum class Origin { Start, Current, End };

  [[nodiscard]] bool isOpen() const { return fd_ >= 0; }
  /// The new position, or empty on failure.
  [[nodiscard]] std::optional<int64_t> seek(int64_t offset, Origin origin);
  /// Reads until count bytes or the end of the file; the count read, or -1 on error.
  [[nodiscard]] int64_t read(void* buffer, std::size_t count);
  void close();

private:
  int fd_ = -1;
};

} // namespace Kestrel::Platform
