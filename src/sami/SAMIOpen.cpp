// Placeholder until the document scan lands: open reports failure.
#include "kestrel/Result.h"
#include "plugin/SAMIContainer.h"

namespace Kestrel {

int32_t SAMIContainer::open(SourceDescriptor* /*source*/) { return kResultFailure; }

} // namespace Kestrel
