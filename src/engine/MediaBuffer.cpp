#include "kestrel/MediaBuffer.h"

#include <memory>

namespace Kestrel {

IBufferAllocator::~IBufferAllocator() = default;

bool IBufferAllocator::acceptName(BufferString name) {
  name.release();
  return false;
}

void IBufferAllocator::setParameter(int32_t value) { parameter = value; }

MediaBuffer::MediaBuffer() : annotation(StandardAllocator<unsigned char>::instance()) {}

MediaBuffer::~MediaBuffer() {
  // Wait for any thread that still holds the buffer before it goes.
  mutex.lock();
  mutex.unlock();
  annotation.release();
}

void MediaBuffer::setData(char* bytes, int32_t count) {
  data = bytes;
  size = count;
}

void MediaBuffer::release() {
  mutex.lock();
  mutex.unlock();
}

char* MediaBuffer::lockData() {
  mutex.lock();
  return data;
}

void MediaBuffer::unlockData() { mutex.unlock(); }

void MediaBuffer::lock() { mutex.lock(); }

void MediaBuffer::unlock() { mutex.unlock(); }

MediaChunk::MediaChunk(IBufferAllocator* owner) : allocator(owner) {}

MediaChunk::~MediaChunk() {
  timestamp = 0;
  duration = 0;
  further[0] = further[1] = 0;
}

void MediaChunk::release() { allocator->releaseBuffer(this); }

MediaBuffer* MediaBufferAllocator::createBuffer(int32_t /*a*/, int32_t /*b*/, int32_t /*c*/) {
  return nullptr;
}

void MediaBufferAllocator::releaseBuffer(MediaBuffer* buffer) {
  if (buffer == nullptr)
    return;
  if (buffer->getSize() != 0) {
    char* bytes = buffer->lockData();
    delete[] bytes;
    buffer->data = nullptr;
    buffer->unlockData();
  }
  delete buffer;
}

MediaChunk* MediaBufferAllocator::createChunk(char* bytes, int32_t count) {
  auto* chunk = new MediaChunk(this);
  chunk->setData(bytes, count);
  return chunk;
}

} // namespace Kestrel
