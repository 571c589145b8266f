#pragma once

#include "Document.h"

#include <cstdint>
#include <gst/base/base.h>
#include <gst/gst.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// What the files of the two elements share: the element's instance and class, its state,
// and the functions one file gives another.

GST_DEBUG_CATEGORY_EXTERN(kestrelSamiDebug);

#define KESTREL_TEXT_CAPS "text/x-raw, format=pango-markup"

namespace KestrelGst {

// The stream hands out a sample when the clock comes within 500 ms of its start; the latest
// time the clock shows stays that far below the largest it can report.
inline constexpr int32_t kLatestClock = INT32_MAX - 500;
// A stream that lags this far behind the one being pushed hears that it has nothing to show
// there, so that downstream (queues, selectors, overlays) need not wait for it.
inline constexpr GstClockTime kGapThreshold = 500 * GST_MSECOND;

inline GstClockTime fromMs(uint64_t ms) { return ms * GST_MSECOND; }

/// One source pad: one stream of the document.
struct Output {
  GstPad* pad = nullptr; // the element's
  const KestrelTool::StreamDescription* stream = nullptr;
  GstStream* description = nullptr; // ours; in the stream-start event and the collection
  bool added = false;               // a pad of our own making, removed with the document
  bool started = false;             // stream-start, caps and tags pushed
  bool needSegment = true;
  bool ended = false; // nothing more to push in this segment
  std::optional<KestrelTool::Cue> next;
  GstClockTime position = GST_CLOCK_TIME_NONE; // how far downstream knows this stream
};

/// The element's state that is not GObject's.
struct ElementState {
  // Properties, under the object lock.
  std::string pluginPath;
  std::string language;
  std::string encoding;

  GstAdapter* adapter = gst_adapter_new(); // upstream's bytes until its EOS
  KestrelGst::ArrivingText text;           // what is known of them so far
  gint64 expectedSize = 0;                 // upstream's size in bytes: 0 not asked yet, -1 unknown
  bool announced = false;    // the parser's stream-start and caps went out with upstream's
  bool allStreams = false;   // a pad per stream (givesAllStreams(), as the element starts)
  bool padsComplete = false; // no-more-pads posted
  bool inputEnded = false;
  std::unique_ptr<KestrelTool::Session> session; // set and cleared under the object lock
  KestrelTool::ToolClock clock;
  std::vector<Output> outputs;
  GstFlowCombiner* combiner = gst_flow_combiner_new();
  GstStreamCollection* collection = nullptr;
  bool finished = false; // EOS or segment-done pushed for this segment

  // Playback, under the object lock.
  GstSegment segment{};
  guint32 seekSeqnum = GST_SEQNUM_INVALID;
  guint32 segmentSeqnum = GST_SEQNUM_INVALID;
  GstClockTime duration = GST_CLOCK_TIME_NONE;

  ElementState() { gst_segment_init(&segment, GST_FORMAT_TIME); }
  ~ElementState() {
    g_object_unref(adapter);
    gst_flow_combiner_free(combiner);
  }
  ElementState(const ElementState&) = delete;
  ElementState& operator=(const ElementState&) = delete;
};

} // namespace KestrelGst

struct KestrelSamiElement {
  GstElement parent;
  GstPad* sinkPad;
  KestrelGst::ElementState* state;
};

struct KestrelSamiElementClass {
  GstElementClass parentClass;
  gboolean perStream; // a pad per stream wherever it is (the demuxer), else "src" leads
};

#define KESTREL_SAMI_ELEMENT(obj) (reinterpret_cast<KestrelSamiElement*>(obj))

namespace KestrelGst {

/// The demuxer's "src_%u" pads (SamiElement.cpp).
extern GstStaticPadTemplate demuxSrcTemplate;

/// Whether the element has the parser's always-present "src" pad, which carries the viewer's
/// stream (and leads the others where it gives them too).
inline bool hasSourcePad(KestrelSamiElement* self) {
  return reinterpret_cast<KestrelSamiElementClass*>(G_OBJECT_GET_CLASS(self))->perStream == FALSE;
}

/// Whether every stream of the document gets a pad (SamiElement.cpp says where).
inline bool perStream(KestrelSamiElement* self) { return self->state->allStreams; }

inline bool forwards(const GstSegment& segment) { return segment.rate > 0.0; }

// The streaming task (StreamingTask.cpp).

/// Moves every stream to where the segment starts playing: its start forwards, its stop
/// (or the end) backwards.
void positionStreams(ElementState& state);
/// The streaming task: opens the document once upstream has given all of it, then pushes
/// the next subtitle of all streams (the earliest forwards, the latest backwards).
void loop(gpointer data);

// The source pads (SourcePads.cpp).

/// Gives a source pad the element's event and query functions and its fixed caps.
void setUpSourcePad(GstPad* pad);

/// Posts no-more-pads once for the document: the decoding bins wait for it from an element
/// with sometimes pads before they offer its streams.
void completePads(KestrelSamiElement* self);

// The sink pad (SinkPad.cpp).

GstFlowReturn sinkChain(GstPad* pad, GstObject* parent, GstBuffer* buffer);
gboolean sinkEvent(GstPad* pad, GstObject* parent, GstEvent* event);
gboolean sinkActivateMode(GstPad* pad, GstObject* parent, GstPadMode mode, gboolean active);

} // namespace KestrelGst
