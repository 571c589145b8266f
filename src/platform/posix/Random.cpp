#include "platform/Random.h"

#include <sys/random.h>
#include <sys/types.h>

namespace Kestrel::Platform {

bool fillRandom(void* out, std::size_t size) {
  return getrandom(out, size, GRND_NONBLOCK) == static_cast<ssize_t>(size);
}

} // namespace Kestrel::Platform
