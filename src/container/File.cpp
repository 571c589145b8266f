#include "container/File.h"

namespace Kestrel {

File::~File() = default; // the handle closes itself

int32_t File::open(const std::u16string& widePath) {
  handle_ = Platform::ReadOnlyFile::open(widePath);
  return handle_.isOpen() ? kOpened : kOpenFailed;
}

uint64_t File::size() {
  using Origin = Platform::ReadOnlyFile::Origin;
  const std::optional<int64_t> saved = handle_.seek(0, Origin::Current);
  if (!saved)
    return kUnknownSize;
  const std::optional<int64_t> end = handle_.seek(0, Origin::End);
  (void)handle_.seek(*saved, Origin::Start);
  if (!end)
    return kUnknownSize;
  return static_cast<uint64_t>(*end);
}

} // namespace Kestrel
