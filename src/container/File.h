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

  File() = default;
  virtual ~File();

  /// kOpened, or kOpenFailed (nothing stays open).
  int32_t open(const std::u16string& widePath);
  /// Size in bytes; the position is restored. 4 when no file is open or the position
  /// can't be read.
  uint64_t size();

private:
  Platform::ReadOnlyFile handle_;
};

} // namespace Kestrel
