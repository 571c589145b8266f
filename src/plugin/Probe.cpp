// Placeholder until the text reader lands: nothing is recognised.
#include "plugin/SAMIContainer.h"

namespace Kestrel {

uint8_t SAMIContainer::probe(SourceDescriptor* /*source*/, int32_t, int32_t,
                             std::vector<StreamFormat>* /*formats*/) {
  return 0;
}

} // namespace Kestrel
