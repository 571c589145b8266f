#pragma once

#include <cstdint>
#include <thread>

namespace KestrelTool {

/// Readies the tool's heap for a document the plug-in is about to read. The plug-in's
/// allocations are this process's, and for a large document the kernel's first touch of
/// each new page (zeroing it) is a fifth of an export. So large blocks stay on the heap
/// instead of getting mappings of their own, freed memory stays with the process until it
/// ends, and room for what the open will allocate is faulted in on another processor while
/// the open runs. Faulting in changes no byte, so it may overlap any use of that memory.
/// These are the tool's allocator settings only: an engine makes its own.
class HeapWarmup {
public:
  /// bytes: what the open is expected to allocate; below a megabyte nothing is done.
  explicit HeapWarmup(uint64_t bytes);
  ~HeapWarmup();
  HeapWarmup(const HeapWarmup&) = delete;
  HeapWarmup& operator=(const HeapWarmup&) = delete;

  /// What an open allocates for a document of size bytes: five bytes per byte of text,
  /// which UTF-16 and UTF-32 files hold two and four bytes of per character.
  [[nodiscard]] static uint64_t expectedForDocument(uint64_t size, unsigned bytesPerUnit);

private:
  std::thread worker_;
};

} // namespace KestrelTool
