// Reading a file under every settings combination, through the real ICU converters. The
// first byte picks the combination; the rest is the file.
#include "FuzzHost.h"
#include "text/ParserUtilities.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace Kestrel;
  if (size < 1 || size > (1u << 20))
    return 0;
  KestrelTest::TestContainerHost host;
  KestrelFuzz::chooseSettings(data[0], host);
  const std::string path = KestrelFuzz::writeScratch(data + 1, size - 1, ".txt");
  const BufferString localPath(path.c_str());
  for (const int32_t length : {-1, 1024}) {
    BufferString text;
    if (ParserUtilities::readTextFile(localPath, &host, &text, length) &&
        (text.data == nullptr || text.length < 2))
      __builtin_trap(); // an accepted text always holds a character and one more byte
  }
  std::remove(path.c_str());
  return 0;
}
