#include "kestrel/StreamInterface.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

// The smallest complete stream: the base behaviour is what is under test.
class BareStream final : public Kestrel::StreamInterface {
public:
  BareStream() : StreamInterface(/*container=*/10, /*stream=*/20, /*streamKind=*/0) {}
  int32_t reserved1() override { return 0; }
  bool getDescription(Kestrel::BufferString*, Kestrel::BufferString*, Kestrel::BufferString*,
                      int32_t) override {
    return false;
  }
  Kestrel::StreamFormat* getFormat() override { return nullptr; }
  Kestrel::ImageProperties* getImageProperties() override { return nullptr; }
  int32_t reserved6() override { return 0; }
  int32_t setClock(Kestrel::MediaClock*) override { return 0; }
  int32_t rewind() override { return 0; }
  int32_t getSeekPoint(int32_t, uint32_t, uint32_t*) override { return 0; }
  int32_t seekStream(uint32_t, uint32_t*, int32_t) override { return 0; }
  int32_t reserved13() override { return 0; }
  int32_t readStream(Kestrel::MediaChunk**) override { return 0; }
};

std::vector<Kestrel::StreamInterface*>
values(const Kestrel::NodeList<Kestrel::StreamInterface*>& l) {
  std::vector<Kestrel::StreamInterface*> out;
  for (auto* n = l.head; n != nullptr; n = n->next)
    out.push_back(n->value);
  return out;
}

} // namespace

TEST(StreamInterface, BaseSlots) {
  BareStream stream;
  Kestrel::StreamInterface& base = stream;
  EXPECT_EQ(base.containerId, 10u);
  EXPECT_EQ(base.streamId, 20u);
  EXPECT_EQ(base.getKind(), 0);
  EXPECT_EQ(base.getRate(), 0);
  EXPECT_TRUE(base.setRate(-2000));
  EXPECT_EQ(base.getRate(), -2000);
  EXPECT_TRUE(base.setValueA(5));
  EXPECT_EQ(base.getValueA(), 5);
  base.setValueB(6);
  EXPECT_EQ(base.getValueB(), 6);
  EXPECT_FALSE(base.reserved23(1));
  EXPECT_EQ(base.getLastEndTime(), 0);
  EXPECT_EQ(base.getFlag(), 0);
  int32_t first = 9;
  int32_t second = 9;
  base.getPair(&first, &second);
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 0);
}

TEST(StreamInterface, LinkedStreamsMatchEveryBitOfTheMask) {
  BareStream stream;
  for (uint32_t mask : {0u, 1u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(mask);
    const auto none = stream.getLinkedStreams(mask);
    EXPECT_EQ(none.count, 0);
    EXPECT_EQ(none.head, nullptr);
  }

  // The plug-in never links streams, but the engine's table may hold entries.
  BareStream a, b, c;
  stream.links[30] = {0x3, &c};
  stream.links[10] = {0x1, &a};
  stream.links[20] = {0x2, &b};
  EXPECT_EQ(values(stream.getLinkedStreams(0)),
            (std::vector<Kestrel::StreamInterface*>{&a, &b, &c})); // key order
  EXPECT_EQ(values(stream.getLinkedStreams(0x1)), (std::vector<Kestrel::StreamInterface*>{&a, &c}));
  EXPECT_EQ(values(stream.getLinkedStreams(0x3)), (std::vector<Kestrel::StreamInterface*>{&c}));
  EXPECT_TRUE(values(stream.getLinkedStreams(0x4)).empty());
  EXPECT_EQ(stream.getLinkedStreams(0).allocator,
            &Kestrel::StandardAllocator<Kestrel::Node<Kestrel::StreamInterface*>>::instance());
}
