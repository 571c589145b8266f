#include "SampleChannel.h"

namespace KestrelTool {

bool SampleChannel::add(uint32_t start, uint32_t duration, std::string_view text) {
  if (!filling_) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (abandoned_)
      return false;
    if (spare_.empty() && made_ < kBlocks) {
      ++made_;
      lock.unlock();
      filling_ = std::make_unique<Block>();
      filling_->texts.reserve(kBlockBytes + kBlockBytes / 4);
    } else {
      changed_.wait(lock, [this] { return !spare_.empty() || abandoned_; });
      if (abandoned_)
        return false;
      filling_ = std::move(spare_.back());
      spare_.pop_back();
    }
  }
  Block& block = *filling_;
  block.samples.push_back({start, duration, block.texts.size(), text.size()});
  block.texts.append(text);
  if (block.texts.size() < kBlockBytes && block.samples.size() < kBlockSamples)
    return false;
  send();
  return true;
}

void SampleChannel::send() {
  const std::lock_guard<std::mutex> hold(mutex_);
  if (!abandoned_)
    sent_.push_back(std::move(filling_));
  filling_.reset();
  changed_.notify_all();
}

void SampleChannel::close() {
  if (filling_)
    send();
  const std::lock_guard<std::mutex> hold(mutex_);
  closed_ = true;
  changed_.notify_all();
}

void SampleChannel::each(const Take& take) {
  struct Abandon { // however taking ends, the reading side no longer waits for blocks
    SampleChannel& channel;
    ~Abandon() {
      const std::lock_guard<std::mutex> hold(channel.mutex_);
      channel.abandoned_ = true;
      channel.sent_.clear();
      channel.spare_.clear(); // a file of many streams has a channel for each
      channel.changed_.notify_all();
    }
  } abandon{*this};
  for (;;) {
    std::unique_ptr<Block> block;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return !sent_.empty() || closed_; });
      if (sent_.empty())
        return; // closed, and everything sent has been taken
      block = std::move(sent_.front());
      sent_.erase(sent_.begin());
    }
    const std::string_view texts = block->texts;
    for (const Sample& sample : block->samples)
      take(sample.start, sample.duration, texts.substr(sample.offset, sample.length));
    block->samples.clear();
    block->texts.clear();
    const std::lock_guard<std::mutex> hold(mutex_);
    spare_.push_back(std::move(block));
    changed_.notify_all();
  }
}

} // namespace KestrelTool
