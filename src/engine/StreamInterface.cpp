#include "kestrel/StreamInterface.h"

namespace Kestrel {

StreamInterface::StreamInterface(uint64_t container, uint64_t stream, int32_t streamKind)
    : containerId(container), streamId(stream), kind(streamKind) {}

StreamInterface::~StreamInterface() {
  std::lock_guard<std::recursive_mutex> guard(linkMutex);
  links.clear();
}

void StreamInterface::getPair(int32_t* first, int32_t* second) {
  if (first != nullptr)
    *first = pair[0];
  if (second != nullptr)
    *second = pair[1];
}

int32_t StreamInterface::getKind() { return kind; }

NodeList<StreamInterface*> StreamInterface::getLinkedStreams(uint32_t mask) {
  std::lock_guard<std::recursive_mutex> guard(linkMutex);
  NodeList<StreamInterface*> list(StandardAllocator<Node<StreamInterface*>>::instance());
  for (const auto& [key, link] : links) {
    if ((static_cast<uint32_t>(link.flags) & mask) == mask)
      list.append(link.stream);
  }
  return list;
}

int32_t StreamInterface::getLastEndTime() { return lastEndTime; }

uint8_t StreamInterface::getFlag() { return flag; }

bool StreamInterface::setRate(int32_t newRate) {
  rate = newRate;
  return true;
}

int32_t StreamInterface::getRate() { return rate; }

bool StreamInterface::setValueA(int32_t value) {
  valueA = value;
  return true;
}

int32_t StreamInterface::getValueA() { return valueA; }

void StreamInterface::setValueB(int32_t value) { valueB = value; }

int32_t StreamInterface::getValueB() { return valueB; }

bool StreamInterface::reserved23(int32_t /*value*/) { return false; }

} // namespace Kestrel
