#include "kestrel/ContainerInterface.h"

namespace Kestrel {

ContainerInterface::~ContainerInterface() = default;

void ContainerInterface::attach(ContainerHost* host, uint64_t id) {
  containerHost = host;
  containerId = id;
  attachWord = 0;
}

uint64_t ContainerInterface::getContainerId() { return containerId; }

int32_t ContainerInterface::getReservedPair(uint32_t* first, uint32_t* second) {
  if (first != nullptr)
    *first = 0;
  if (second != nullptr)
    *second = 0;
  return 0;
}

} // namespace Kestrel
