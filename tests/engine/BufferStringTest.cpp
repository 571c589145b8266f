#include "kestrel/BufferString.h"

#include "kestrel/NodeList.h"

#include <gtest/gtest.h>
#include <new>
#include <vector>

using Kestrel::BufferString;
using Kestrel::StandardAllocator;

namespace {

// Counts what passes through it, so a test can tell which allocator a buffer came from.
class CountingNodeAllocator : public StandardAllocator<Kestrel::Node<unsigned long long>> {
public:
  Kestrel::Node<unsigned long long>* allocate(uint32_t count) override {
    ++allocations;
    return StandardAllocator::allocate(count);
  }
  void free(Kestrel::Node<unsigned long long>* pointer) override {
    if (pointer != nullptr)
      ++frees;
    StandardAllocator::free(pointer);
  }
  int allocations = 0;
  int frees = 0;
};

} // namespace

TEST(BufferString, NullAndEmptySourcesGiveTheEmptyString) {
  const BufferString fromNull(static_cast<const char*>(nullptr));
  const BufferString fromNullBytes(nullptr, 5);
  const BufferString fromEmpty("");
  EXPECT_EQ(fromNull.data, nullptr);
  EXPECT_EQ(fromNull.length, 0);
  EXPECT_EQ(fromNullBytes.data, nullptr);
  EXPECT_NE(fromNull.allocator, nullptr); // present even without a buffer
  EXPECT_NE(fromEmpty.data, nullptr);
  EXPECT_TRUE(fromNull.isEmpty());
  EXPECT_TRUE(fromEmpty.isEmpty());
  EXPECT_TRUE(fromNull == fromEmpty);
  EXPECT_TRUE(fromNull == static_cast<const char*>(nullptr));
  EXPECT_FALSE(fromNull < fromEmpty);
  EXPECT_FALSE(fromEmpty < fromNull);
}

TEST(BufferString, TextEndsAtTheFirstNul) {
  const char bytes[] = {'a', 'b', '\0', 'c'};
  const BufferString embedded(bytes, 4);
  EXPECT_EQ(embedded.length, 4);
  EXPECT_EQ(embedded.data[4], '\0'); // a NUL is always appended after count bytes
  EXPECT_TRUE(embedded == BufferString("ab"));
  EXPECT_EQ(embedded.toStdString(), "ab");

  // Copies keep every byte, NULs included.
  const BufferString copy(embedded);
  EXPECT_EQ(copy.length, 4);
  EXPECT_EQ(copy.data[3], 'c');
  EXPECT_NE(copy.data, embedded.data);
}

TEST(BufferString, OrdersBytewise) {
  const char* sorted[] = {"", "TEXT/XML", "text/x-sami", "text/x-smi", "text/xml", "\xC3\xA9"};
  for (size_t i = 0; i + 1 < std::size(sorted); ++i) {
    SCOPED_TRACE(sorted[i]);
    EXPECT_TRUE(BufferString(sorted[i]) < BufferString(sorted[i + 1]));
    EXPECT_FALSE(BufferString(sorted[i + 1]) < BufferString(sorted[i]));
  }
}

TEST(BufferString, AssignmentAndCopiesKeepTheirOwnAllocator) {
  auto& chars = StandardAllocator<char>::instance();
  auto& bytes = StandardAllocator<unsigned char>::instance();
  BufferString target(chars);
  target = BufferString("value", bytes);
  EXPECT_EQ(target.allocator, &chars);
  EXPECT_EQ(target.view(), "value");

  const BufferString copied(target, bytes);
  EXPECT_EQ(copied.allocator, &bytes);
  EXPECT_EQ(copied.view(), "value");

  target = BufferString(bytes); // a source with null data leaves it empty
  EXPECT_EQ(target.data, nullptr);
  EXPECT_EQ(target.allocator, &chars);

  BufferString self("same");
  const BufferString& alias = self; // assigning a string to itself keeps its text
  self = alias;
  EXPECT_EQ(self.view(), "same");
}

TEST(BufferString, FindIgnoringCaseReturnsTheLastByteOfTheMatch) {
  const struct {
    const char* text;
    const char* pattern;
    int32_t found;
  } cases[] = {
      {"<sami>", "<SAMI>", 5},
      {"xx<SaMi> <body>", "<SAMI>", 7},
      {"", "<SAMI>", -1},
      {"<SAM", "<SAMI>", -1},
      {"abc", "", -1},
      // The byte that broke a partial match is not tried as a new start: "aab" misses "ab".
      {"aab", "ab", -1},
      {"<<SAMI>", "<SAMI>", -1},
      {"x<SAMI>", "<SAMI>", 6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " / " + c.pattern);
    EXPECT_EQ(BufferString::findIgnoringCase(c.text, c.pattern), c.found);
  }
  EXPECT_EQ(BufferString::findIgnoringCase(nullptr, "a"), -1);
  EXPECT_EQ(BufferString::findIgnoringCase("a", nullptr), -1);
}

TEST(StandardAllocator, OversizedRequestsFail) {
  // 2^28 nodes of 16 bytes is 4 GiB: the byte count does not fit in 32 bits.
  auto& nodes = StandardAllocator<Kestrel::Node<unsigned long long>>::instance();
  EXPECT_THROW(nodes.allocate(1u << 28), std::bad_alloc);
  EXPECT_EQ(&nodes, &StandardAllocator<Kestrel::Node<unsigned long long>>::instance());
}

TEST(NodeList, CopyKeepsOrderWithNodesFromTheTargetAllocator) {
  CountingNodeAllocator source;
  CountingNodeAllocator target;
  {
    Kestrel::NodeList<unsigned long long> list(source);
    for (unsigned long long id : {7ULL, 0xFFFFFFFFFFFFFFFFULL, 3ULL})
      list.append(id);
    const Kestrel::NodeList<unsigned long long> copy(list, target);
    std::vector<unsigned long long> values;
    for (auto* n = copy.head; n != nullptr; n = n->next)
      values.push_back(n->value);
    EXPECT_EQ(values, (std::vector<unsigned long long>{7, UINT64_MAX, 3}));
    EXPECT_EQ(copy.count, 3);
    EXPECT_EQ(copy.tail->value, 3u);
    EXPECT_EQ(copy.allocator, &target);
    EXPECT_EQ(target.allocations, 3);
    EXPECT_EQ(source.allocations, 3);

    list.clear();
    EXPECT_EQ(list.head, nullptr);
    EXPECT_EQ(list.tail, nullptr);
    EXPECT_EQ(list.count, 0);
    EXPECT_EQ(source.frees, 3);
  }
  EXPECT_EQ(target.frees, 3);
}
