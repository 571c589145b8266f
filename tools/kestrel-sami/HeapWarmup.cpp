#include "HeapWarmup.h"

#include <algorithm>
#include <cstdlib>
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace KestrelTool {
namespace {

// Blocks up to this size come from the heap; glibc allows no larger threshold.
constexpr uint64_t kHeapBlockLimit = uint64_t{32} << 20;
// The heap is grown in pieces below the limit, so that each piece lies on the heap.
constexpr uint64_t kPiece = uint64_t{16} << 20;
constexpr uint64_t kLeast = uint64_t{1} << 20;
constexpr uint64_t kMost = uint64_t{1} << 30;

} // namespace

uint64_t HeapWarmup::expectedForDocument(uint64_t size, unsigned bytesPerUnit) {
  return 5 * size / std::max(1U, bytesPerUnit);
}

HeapWarmup::HeapWarmup(uint64_t bytes) {
  if (bytes < kLeast)
    return;
  bytes = std::min(bytes, kMost);
  if (mallopt(M_MMAP_THRESHOLD, static_cast<int>(kHeapBlockLimit)) == 0 ||
      mallopt(M_TRIM_THRESHOLD, INT32_MAX) == 0)
    return;
  // The heap grows by these pieces; once freed they join its free top, which is no longer
  // given back, and the plug-in's allocations are carved from it.
  std::vector<std::pair<char*, size_t>> pieces;
  for (uint64_t grown = 0; grown < bytes; grown += kPiece) {
    const auto size = static_cast<size_t>(std::min(kPiece, bytes - grown));
    auto* piece = static_cast<char*>(std::malloc(size));
    if (piece == nullptr)
      break;
    pieces.emplace_back(piece, size);
  }
  const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  // Each piece's whole pages: (first page, page count).
  std::vector<std::pair<char*, size_t>> ranges;
  for (auto it = pieces.rbegin(); it != pieces.rend(); ++it) {
    const auto address = reinterpret_cast<uintptr_t>(it->first);
    const uintptr_t skip = (page - address % page) % page;
    if (it->second > skip && (it->second - skip) / page > 0)
      ranges.emplace_back(it->first + skip, (it->second - skip) / page);
    std::free(it->first);
  }
  if (ranges.empty())
    return;
  worker_ = std::thread([ranges = std::move(ranges), page] {
    // A megabyte at a time: the advice holds the process's memory map for reading, and
    // whatever maps memory meanwhile (the loader, the heap growing) waits for one call only.
    // Kernels before 5.14 refuse the advice; the pages are then faulted in as they are used.
    const size_t step = std::max<size_t>(1, (size_t{1} << 20) / page);
    for (const auto& [first, pages] : ranges)
      for (size_t done = 0; done < pages; done += step)
        if (madvise(first + done * page, std::min(step, pages - done) * page,
                    MADV_POPULATE_WRITE) != 0)
          return;
  });
}

HeapWarmup::~HeapWarmup() {
  if (worker_.joinable())
    worker_.join();
}

} // namespace KestrelTool
