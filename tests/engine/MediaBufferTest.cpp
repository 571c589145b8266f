#include "kestrel/MediaBuffer.h"

#include "kestrel/Properties.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using Kestrel::MediaBufferAllocator;
using Kestrel::MediaChunk;

TEST(MediaChunk, CreatedWithDefaultsAroundItsPayload) {
  MediaBufferAllocator allocator;
  EXPECT_EQ(allocator.parameter, 8);
  EXPECT_EQ(allocator.createBuffer(1, 2, 3), nullptr);
  EXPECT_FALSE(allocator.acceptName(Kestrel::BufferString("x")));

  char* payload = new char[6]{"hello"};
  MediaChunk* chunk = allocator.createChunk(payload, 6);
  EXPECT_EQ(chunk->data, payload);
  EXPECT_EQ(chunk->getSize(), 6);
  EXPECT_EQ(chunk->used, 0);
  EXPECT_EQ(chunk->timestamp, 0);
  EXPECT_EQ(chunk->duration, 0);
  EXPECT_EQ(chunk->allocator, &allocator);
  EXPECT_TRUE(chunk->annotation.isEmpty());
  chunk->release(); // frees payload and chunk: the sanitizer build checks nothing leaks
}

TEST(MediaChunk, ReleaseWithSizeZeroFreesNoPayload) {
  MediaBufferAllocator allocator;
  // Not from array new: freeing it would be caught by the sanitizer build.
  static char notOwned[4] = "abc";
  MediaChunk* chunk = allocator.createChunk(notOwned, 0);
  chunk->release();
  EXPECT_STREQ(notOwned, "abc");

  allocator.releaseBuffer(nullptr); // nothing to do
}

TEST(MediaBufferConcurrency, LockIsRecursiveAndHoldsOtherThreadsOff) {
  MediaBufferAllocator allocator;
  MediaChunk* chunk = allocator.createChunk(new char[1]{'x'}, 1);
  EXPECT_EQ(chunk->lockData(), chunk->data);
  chunk->lock(); // the same thread may lock again

  auto otherThreadGetsIn = [chunk] {
    bool got = false;
    std::thread other([&] {
      got = chunk->mutex.try_lock();
      if (got)
        chunk->mutex.unlock();
    });
    other.join();
    return got;
  };
  EXPECT_FALSE(otherThreadGetsIn());
  chunk->unlockData();
  EXPECT_FALSE(otherThreadGetsIn()); // still held once
  chunk->unlock();
  EXPECT_TRUE(otherThreadGetsIn());

  // A thread blocked in lock() gets in once the holder lets go, and sees its writes.
  std::atomic<bool> entered{false};
  chunk->lock();
  std::thread waiter([&] {
    char* data = chunk->lockData();
    entered = data[0] == 'y';
    chunk->unlockData();
  });
  chunk->data[0] = 'y';
  chunk->unlock();
  waiter.join();
  EXPECT_TRUE(entered);
  chunk->release();
}

TEST(Properties, Defaults) {
  const Kestrel::ImageProperties image;
  EXPECT_EQ(image.width, 0);
  EXPECT_EQ(image.height, 0);
  EXPECT_EQ(image.further[0], 1);
  EXPECT_EQ(image.further[1], 1);
  EXPECT_EQ(image.further[2], 1);
  EXPECT_EQ(image.floatRect.width(), 0.0);
  EXPECT_EQ(image.intRect.width(), 1); // inclusive coordinates: 0 to 0 is one pixel
  EXPECT_EQ(image.furtherWord, 0);
  EXPECT_EQ(image.flag, 0);
  const Kestrel::AudioProperties audio;
  EXPECT_EQ(audio.first, 0);
  EXPECT_EQ(audio.second, 0);
}

TEST(Properties, IntegerRectanglesAreInclusive) {
  const Kestrel::RectInt pixels(0, 0, 639, 479);
  EXPECT_EQ(pixels.width(), 640);
  EXPECT_EQ(pixels.height(), 480);
  const Kestrel::RectFloat area(0.0, 0.0, 640.0, 480.0);
  EXPECT_DOUBLE_EQ(area.width(), 640.0);
  EXPECT_DOUBLE_EQ(area.height(), 480.0);
  // Through the base, as the engine calls them.
  const Kestrel::Rect<int>& base = pixels;
  EXPECT_EQ(base.width(), 640);
}
