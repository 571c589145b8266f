#pragma once

#include "platform/File.h"

#include <cstdint>
#include <string>

namespace Kestrel {

/// A file opened read-only to learn its size; closed on destruction.
class File {
public:
  static constexpr int32_t kOpened = 0;
  static constexpr int32_t kOpenFailed = 2;
  /// What size() reports when it has no answer.
  static constexpr uint64_t kUnknownSize = 4;

  File() = default;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  virtual ~File();

  /// kOpened, or kOpenFailed (nothing stays open; a file opened before is closed first).
  /// Only regular files open.
  int32_t open(const std::u16string& widePath);
  /// Size in bytes; the position is restored. kUnknownSize when no file is open or the
  /// position can't be read.
  uint64_t size();

private:
  Platform::ReadOnlyFile handle_;
};

} // namespace Kestrel
