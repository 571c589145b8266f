// The source pads: seeks and the queries of position, duration and segment.
#include "ElementState.h"

#include <algorithm>

#define GST_CAT_DEFAULT kestrelSamiDebug

namespace KestrelGst {
namespace {

gboolean handleSeek(KestrelSamiElement* self, GstEvent* event) {
  ElementState& state = *self->state;
  gdouble rate = 1.0;
  GstFormat format = GST_FORMAT_UNDEFINED;
  GstSeekFlags flags = GST_SEEK_FLAG_NONE;
  GstSeekType startType = GST_SEEK_TYPE_NONE;
  GstSeekType stopType = GST_SEEK_TYPE_NONE;
  gint64 start = 0;
  gint64 stop = 0;
  gst_event_parse_seek(event, &rate, &format, &flags, &startType, &start, &stopType, &stop);
  if (format != GST_FORMAT_TIME) {
    GST_DEBUG_OBJECT(self, "refusing a seek in %s", gst_format_get_name(format));
    return FALSE;
  }
  const guint32 seqnum = gst_event_get_seqnum(event);
  GST_DEBUG_OBJECT(
      self, "seek %u: rate %f, flags 0x%x, start %" G_GINT64_FORMAT ", stop %" G_GINT64_FORMAT,
      seqnum, rate, flags, start, stop);
  GST_OBJECT_LOCK(self);
  const bool repeated = seqnum == state.seekSeqnum;
  state.seekSeqnum = seqnum;
  GST_OBJECT_UNLOCK(self);
  if (repeated)
    return TRUE; // the same seek, come up through another of our pads

  const bool flush = (flags & GST_SEEK_FLAG_FLUSH) != 0;
  if (flush)
    for (auto& out : state.outputs)
      if (out.started) {
        GstEvent* flushStart = gst_event_new_flush_start();
        gst_event_set_seqnum(flushStart, seqnum);
        gst_pad_push_event(out.pad, flushStart);
      }
  // The task stops at the end of the iteration it is in (for a seek that does not flush,
  // once the subtitle being pushed is taken), and the stream lock keeps it there.
  if (state.session)
    gst_pad_pause_task(self->sinkPad);
  GST_PAD_STREAM_LOCK(self->sinkPad);
  if (flush) {
    for (auto& out : state.outputs)
      if (out.started) {
        GstEvent* flushStop = gst_event_new_flush_stop(TRUE);
        gst_event_set_seqnum(flushStop, seqnum);
        gst_pad_push_event(out.pad, flushStop);
      }
    gst_flow_combiner_reset(state.combiner);
  }
  GST_OBJECT_LOCK(self);
  gboolean update = FALSE;
  gst_segment_do_seek(&state.segment, rate, format, flags, startType, start, stopType, stop,
                      &update);
  state.segmentSeqnum = seqnum;
  const GstSegment segment = state.segment;
  if (state.session)
    positionStreams(state);
  GST_OBJECT_UNLOCK(self);
  if ((flags & GST_SEEK_FLAG_SEGMENT) != 0) {
    const GstClockTime edge = forwards(segment) ? segment.start : segment.stop;
    GstMessage* message = gst_message_new_segment_start(
        GST_OBJECT(self), GST_FORMAT_TIME,
        GST_CLOCK_TIME_IS_VALID(edge) ? static_cast<gint64>(edge) : -1);
    gst_message_set_seqnum(message, seqnum);
    gst_element_post_message(GST_ELEMENT(self), message);
  }
  if (state.session)
    gst_pad_start_task(self->sinkPad, loop, self, nullptr);
  GST_PAD_STREAM_UNLOCK(self->sinkPad);
  return TRUE;
}

gboolean srcEvent(GstPad* pad, GstObject* parent, GstEvent* event) {
  auto* self = KESTREL_SAMI_ELEMENT(parent);
  switch (GST_EVENT_TYPE(event)) {
  case GST_EVENT_SEEK: {
    const gboolean handled = handleSeek(self, event);
    gst_event_unref(event);
    return handled;
  }
  case GST_EVENT_RECONFIGURE:
  case GST_EVENT_QOS:
  case GST_EVENT_NAVIGATION:
  case GST_EVENT_LATENCY:
    // The whole document is read: upstream has nothing to do with what happens downstream.
    gst_event_unref(event);
    return TRUE;
  default:
    return gst_pad_event_default(pad, parent, event);
  }
}

/// The end of the last subtitle of every stream, found when first asked for; none before
/// the document is open.
GstClockTime duration(KestrelSamiElement* self) {
  ElementState& state = *self->state;
  GST_OBJECT_LOCK(self);
  if (!GST_CLOCK_TIME_IS_VALID(state.duration) && state.session) {
    uint32_t end = 0;
    // The session's list, not the pads': it lives as long as the session, which the object
    // lock guards, while the pads go when the document is closed.
    for (const auto& stream : state.session->streams())
      end = std::max(end, KestrelTool::Session::lastEnd(stream));
    state.duration = fromMs(end);
  }
  const GstClockTime known = state.duration;
  GST_OBJECT_UNLOCK(self);
  return known;
}

gboolean srcQuery(GstPad* pad, GstObject* parent, GstQuery* query) {
  auto* self = KESTREL_SAMI_ELEMENT(parent);
  ElementState& state = *self->state;
  switch (GST_QUERY_TYPE(query)) {
  case GST_QUERY_POSITION: {
    GstFormat format;
    gst_query_parse_position(query, &format, nullptr);
    if (format != GST_FORMAT_TIME)
      return FALSE;
    GST_OBJECT_LOCK(self);
    const GstClockTime position = state.segment.position;
    GST_OBJECT_UNLOCK(self);
    if (!GST_CLOCK_TIME_IS_VALID(position))
      return FALSE;
    gst_query_set_position(query, GST_FORMAT_TIME, static_cast<gint64>(position));
    return TRUE;
  }
  case GST_QUERY_DURATION: {
    GstFormat format;
    gst_query_parse_duration(query, &format, nullptr);
    const GstClockTime known = format == GST_FORMAT_TIME ? duration(self) : GST_CLOCK_TIME_NONE;
    if (!GST_CLOCK_TIME_IS_VALID(known))
      return FALSE;
    gst_query_set_duration(query, GST_FORMAT_TIME, static_cast<gint64>(known));
    return TRUE;
  }
  case GST_QUERY_SEEKING: {
    GstFormat format;
    gst_query_parse_seeking(query, &format, nullptr, nullptr, nullptr);
    if (format != GST_FORMAT_TIME)
      return FALSE;
    const GstClockTime known = duration(self);
    gst_query_set_seeking(query, GST_FORMAT_TIME, TRUE, 0,
                          GST_CLOCK_TIME_IS_VALID(known) ? static_cast<gint64>(known) : -1);
    return TRUE;
  }
  case GST_QUERY_SEGMENT: {
    GST_OBJECT_LOCK(self);
    const GstSegment segment = state.segment;
    GST_OBJECT_UNLOCK(self);
    const auto start =
        static_cast<gint64>(gst_segment_to_stream_time(&segment, GST_FORMAT_TIME, segment.start));
    const gint64 stop = GST_CLOCK_TIME_IS_VALID(segment.stop)
                            ? static_cast<gint64>(gst_segment_to_stream_time(
                                  &segment, GST_FORMAT_TIME, segment.stop))
                            : -1;
    gst_query_set_segment(query, segment.rate, GST_FORMAT_TIME, start, stop);
    return TRUE;
  }
  default:
    return gst_pad_query_default(pad, parent, query);
  }
}

} // namespace

void setUpSourcePad(GstPad* pad) {
  gst_pad_set_event_function(pad, GST_DEBUG_FUNCPTR(srcEvent));
  gst_pad_set_query_function(pad, GST_DEBUG_FUNCPTR(srcQuery));
  gst_pad_use_fixed_caps(pad);
}

} // namespace KestrelGst
