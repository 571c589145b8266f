#pragma once

#include "Session.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace KestrelTool {

/// A stream's samples on their way from the thread that reads the container to the thread
/// that renders them. They travel in a few blocks that go back and forth, so the texts are
/// copied once into memory that is used again and again, and the reader is never more than
/// those few blocks ahead.
class SampleChannel {
public:
  using Take = Session::Take;

  /// Bytes of text, or samples, after which a block is sent.
  static constexpr size_t kBlockBytes = size_t{64} << 10;
  static constexpr size_t kBlockSamples = 4096;

  /// Reading side: appends a sample to the block being filled (waiting for one to come back
  /// when every block is on its way). True when that filled the block and sent it.
  bool add(uint32_t start, uint32_t duration, std::string_view text);
  /// Reading side: sends what is left; the stream ends there. Also when reading stops short.
  void close();

  /// Rendering side: hands every sample to take, in order, until the stream ends. If take
  /// throws, the reading side's samples are dropped from then on, so it never waits for it.
  void each(const Take& take);

private:
  struct Sample {
    uint32_t start;
    uint32_t duration;
    size_t offset; // into the block's texts
    size_t length;
  };
  struct Block {
    std::vector<Sample> samples;
    std::string texts;
  };
  static constexpr size_t kBlocks = 8;

  void send();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::unique_ptr<Block>> sent_;  // in order, oldest first
  std::vector<std::unique_ptr<Block>> spare_; // given back, ready to fill again
  std::unique_ptr<Block> filling_;            // the reading side's own
  size_t made_ = 0;
  bool closed_ = false;
  bool abandoned_ = false; // the rendering side has stopped
};

} // namespace KestrelTool
