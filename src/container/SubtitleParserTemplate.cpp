// Placeholder implementation until the track store lands: every slot reports failure.
#include "container/SubtitleParserTemplate.h"

#include "kestrel/Result.h"
#include "plugin/SAMIContainer.h"

namespace Kestrel {

template <class Format> class SubtitleParserTemplate<Format>::OverlayStream {};

template <class Format>
SubtitleParserTemplate<Format>::SubtitleParserTemplate()
    : chunkAllocator_(new MediaBufferAllocator()) {}

template <class Format> SubtitleParserTemplate<Format>::~SubtitleParserTemplate() {
  delete chunkAllocator_;
}

template <class Format> BufferString SubtitleParserTemplate<Format>::getLocation() {
  return BufferString(location_, StandardAllocator<unsigned char>::instance());
}
template <class Format> int32_t SubtitleParserTemplate<Format>::reserved9() { return 0; }
template <class Format>
NodeList<unsigned long long> SubtitleParserTemplate<Format>::getProgramIds() {
  return NodeList<unsigned long long>();
}
template <class Format> BufferString SubtitleParserTemplate<Format>::reserved11(int32_t, int32_t) {
  return BufferString();
}
template <class Format> int32_t SubtitleParserTemplate<Format>::selectProgram(uint64_t) {
  return kResultFailure;
}
template <class Format> int32_t SubtitleParserTemplate<Format>::closeProgram(bool) {
  return kResultFailure;
}
template <class Format> int32_t SubtitleParserTemplate<Format>::getSourceSize(uint64_t*) {
  return kResultFailure;
}
template <class Format> bool SubtitleParserTemplate<Format>::reserved20(int32_t) { return false; }
template <class Format>
bool SubtitleParserTemplate<Format>::createStream(EntryList&, const BufferString&,
                                                  const BufferString&, const BufferString&) {
  return false;
}

template class SubtitleParserTemplate<SAMIContainer>;

} // namespace Kestrel
