// The streaming task: what it pushes downstream, a subtitle at a time, and how it ends.
#include "ElementState.h"
#include "PangoMarkup.h"

#include <algorithm>
#include <string>

#define GST_CAT_DEFAULT kestrelSamiDebug

namespace KestrelGst {

void positionStreams(ElementState& state) {
  const GstSegment& segment = state.segment;
  const bool ahead = forwards(segment);
  const GstClockTime from = ahead                                   ? segment.start
                            : GST_CLOCK_TIME_IS_VALID(segment.stop) ? segment.stop
                                                                    : GST_CLOCK_TIME_NONE;
  const auto time = static_cast<uint32_t>(std::min<uint64_t>(
      GST_CLOCK_TIME_IS_VALID(from) ? from / GST_MSECOND : UINT32_MAX, UINT32_MAX));
  GST_DEBUG("streams to %u ms, %s", time, ahead ? "forwards" : "backwards");
  for (auto& out : state.outputs) {
    out.stream->stream->setRate(ahead ? 1000 : -1000);
    out.stream->stream->seekStream(time, nullptr, 0);
    out.next.reset();
    out.ended = false;
    out.needSegment = true;
    out.position = ahead ? segment.start : from;
  }
  state.finished = false;
}

namespace {

void pushStart(KestrelSamiElement* self, Output& out, guint groupId) {
  out.started = true;
  if (self->state->announced) {
    // The parser's stream began with upstream's: only what the document says of it is new.
    gst_pad_push_event(out.pad, gst_event_new_tag(gst_stream_get_tags(out.description)));
    return;
  }
  GstEvent* start = gst_event_new_stream_start(gst_stream_get_stream_id(out.description));
  gst_event_set_group_id(start, groupId);
  gst_event_set_stream_flags(start, gst_stream_get_stream_flags(out.description));
  gst_event_set_stream(start, out.description);
  gst_pad_push_event(out.pad, start);
  if (self->state->collection != nullptr)
    gst_pad_push_event(out.pad, gst_event_new_stream_collection(self->state->collection));
  GstCaps* caps = gst_stream_get_caps(out.description);
  gst_pad_push_event(out.pad, gst_event_new_caps(caps));
  gst_caps_unref(caps);
  GstTagList* tags = gst_stream_get_tags(out.description);
  gst_pad_push_event(out.pad, gst_event_new_tag(tags));
}

/// The segment (or, for a pad that has not started, everything before it) on every pad that
/// needs it.
void pushSegments(KestrelSamiElement* self) {
  ElementState& state = *self->state;
  GST_OBJECT_LOCK(self);
  const GstSegment segment = state.segment;
  const guint32 seqnum = state.segmentSeqnum;
  GST_OBJECT_UNLOCK(self);
  guint groupId = 0;
  for (auto& out : state.outputs) {
    if (!out.started) {
      if (groupId == 0)
        groupId = gst_util_group_id_next();
      pushStart(self, out, groupId);
    }
    if (out.needSegment) {
      GstEvent* event = gst_event_new_segment(&segment);
      if (seqnum != GST_SEQNUM_INVALID)
        gst_event_set_seqnum(event, seqnum);
      gst_pad_push_event(out.pad, event);
      out.needSegment = false;
    }
  }
}

/// Every pad has given what this segment holds: EOS, or segment-done when asked for.
void finish(KestrelSamiElement* self) {
  ElementState& state = *self->state;
  if (state.finished)
    return;
  state.finished = true;
  GST_OBJECT_LOCK(self);
  const GstSegment segment = state.segment;
  const guint32 seqnum = state.segmentSeqnum;
  const GstClockTime duration = state.duration;
  GST_OBJECT_UNLOCK(self);
  if ((segment.flags & GST_SEGMENT_FLAG_SEGMENT) != 0) {
    const GstClockTime edge = forwards(segment) ? segment.stop : segment.start;
    const auto position = static_cast<gint64>(GST_CLOCK_TIME_IS_VALID(edge) ? edge : duration);
    GstMessage* message = gst_message_new_segment_done(GST_OBJECT(self), GST_FORMAT_TIME, position);
    gst_message_set_seqnum(message, seqnum);
    gst_element_post_message(GST_ELEMENT(self), message);
    for (auto& out : state.outputs) {
      GstEvent* event = gst_event_new_segment_done(GST_FORMAT_TIME, position);
      gst_event_set_seqnum(event, seqnum);
      gst_pad_push_event(out.pad, event);
    }
    return;
  }
  for (auto& out : state.outputs) {
    GstEvent* event = gst_event_new_eos();
    if (seqnum != GST_SEQNUM_INVALID)
      gst_event_set_seqnum(event, seqnum);
    gst_pad_push_event(out.pad, event);
  }
}

/// Stops the task for a flow that ends streaming: quietly for a flush, with EOS downstream
/// when every pad has had enough, with an error for anything worse.
void pause(KestrelSamiElement* self, GstFlowReturn flow) {
  GST_DEBUG_OBJECT(self, "pausing: %s", gst_flow_get_name(flow));
  gst_pad_pause_task(self->sinkPad);
  if (flow == GST_FLOW_FLUSHING)
    return;
  if (flow == GST_FLOW_NOT_LINKED || flow < GST_FLOW_EOS)
    GST_ELEMENT_FLOW_ERROR(self, flow);
  finish(self);
}

/// Reads the stream's next sample into out.next if it has none, and says whether the stream
/// has one inside the segment.
bool hasNext(KestrelSamiElement* self, Output& out, const GstSegment& segment) {
  if (out.ended)
    return false;
  if (!out.next) {
    // Read at the clock's latest time, a sample not yet due is one later than any time.
    KestrelTool::Cue cue;
    using Result = KestrelTool::Session::ReadResult;
    const Result read = KestrelTool::Session::readOne(out.stream->stream, cue);
    if (read == Result::Failed || read == Result::NotYet)
      GST_ELEMENT_WARNING(self, STREAM, DECODE,
                          ("the container could not read stream %" G_GUINT64_FORMAT
                           " to its end (out of memory, or subtitles later than any media time); "
                           "the rest of its subtitles were left out.",
                           out.stream->id),
                          (nullptr));
    if (read != Result::Delivered) {
      GST_DEBUG_OBJECT(out.pad, "stream %" G_GUINT64_FORMAT " has ended", out.stream->id);
      out.ended = true;
      return false;
    }
    out.next = std::move(cue);
  }
  const GstClockTime start = fromMs(out.next->start);
  const GstClockTime end = start + fromMs(out.next->duration);
  const bool inside = forwards(segment)
                          ? !GST_CLOCK_TIME_IS_VALID(segment.stop) || start < segment.stop
                          : end > segment.start;
  out.ended = !inside;
  return inside;
}

/// Tells a stream that lags behind time that it has nothing to show up to it.
void pushGap(Output& out, GstClockTime time, bool ahead) {
  if (!out.started || out.ended || !GST_CLOCK_TIME_IS_VALID(out.position))
    return;
  const GstClockTime from = ahead ? out.position : time;
  const GstClockTime to = ahead ? time : out.position;
  if (to <= from || to - from < kGapThreshold)
    return;
  gst_pad_push_event(out.pad, gst_event_new_gap(from, to - from));
  out.position = time;
}

} // namespace

void loop(gpointer data) {
  auto* self = static_cast<KestrelSamiElement*>(data);
  ElementState& state = *self->state;
  if (!state.session) {
    gst_pad_pause_task(self->sinkPad);
    if (hasSourcePad(self)) {
      // An overlay that waits for text lets the video go on once the text stream has ended.
      GstPad* src = gst_element_get_static_pad(GST_ELEMENT(self), "src");
      if (!state.announced) {
        gchar* id = gst_pad_create_stream_id(src, GST_ELEMENT(self), nullptr);
        gst_pad_push_event(src, gst_event_new_stream_start(id));
        g_free(id);
      }
      GST_OBJECT_LOCK(self);
      GstEvent* segment = gst_event_new_segment(&state.segment);
      GST_OBJECT_UNLOCK(self);
      gst_pad_push_event(src, segment);
      gst_pad_push_event(src, gst_event_new_eos());
      gst_object_unref(src);
    }
    return;
  }
  pushSegments(self);
  GST_OBJECT_LOCK(self);
  const GstSegment segment = state.segment;
  GST_OBJECT_UNLOCK(self);
  const bool ahead = forwards(segment);
  Output* best = nullptr;
  for (auto& out : state.outputs)
    if (hasNext(self, out, segment) &&
        (best == nullptr ||
         (ahead ? out.next->start < best->next->start : out.next->start > best->next->start)))
      best = &out;
  if (best == nullptr) {
    pause(self, GST_FLOW_EOS);
    return;
  }

  const KestrelTool::Cue cue = std::move(*best->next);
  best->next.reset();
  const GstClockTime start = fromMs(cue.start);
  const GstClockTime end = start + fromMs(cue.duration);
  for (auto& out : state.outputs)
    if (&out != best)
      pushGap(out, start, ahead);
  const std::string text = KestrelGst::pangoMarkup(cue.markup);
  GstBuffer* buffer = gst_buffer_new_memdup(text.data(), text.size());
  GST_BUFFER_PTS(buffer) = start;
  GST_BUFFER_DURATION(buffer) = fromMs(cue.duration);
  best->position = ahead ? end : start;
  GST_OBJECT_LOCK(self);
  state.segment.position =
      ahead ? std::max(start,
                       GST_CLOCK_TIME_IS_VALID(state.segment.position) ? state.segment.position : 0)
            : start;
  GST_OBJECT_UNLOCK(self);

  const GstFlowReturn flow = gst_pad_push(best->pad, buffer);
  if (flow == GST_FLOW_EOS)
    best->ended = true; // downstream of this pad has had enough; the others go on
  const GstFlowReturn combined = gst_flow_combiner_update_pad_flow(state.combiner, best->pad, flow);
  if (combined != GST_FLOW_OK)
    pause(self, combined);
}

} // namespace KestrelGst
