#include "SamiElement.h"

#include "Document.h"
#include "PangoMarkup.h"
#include "kestrel/MediaBuffer.h"
#include "kestrel/Result.h"

#include <algorithm>
#include <climits>
#include <gst/base/base.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

GST_DEBUG_CATEGORY(kestrelSamiDebug);
#define GST_CAT_DEFAULT kestrelSamiDebug

namespace {

// The stream hands out a sample when the clock comes within 500 ms of its start; the latest
// time the clock shows stays that far below the largest it can report.
constexpr int32_t kLatestClock = INT32_MAX - 500;
// A stream that lags this far behind the one being pushed hears that it has nothing to show
// there, so that downstream (queues, selectors, overlays) need not wait for it.
constexpr GstClockTime kGapThreshold = 500 * GST_MSECOND;

GstClockTime fromMs(uint64_t ms) { return ms * GST_MSECOND; }

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
  bool announced = false; // the parser's stream-start and caps went out with upstream's
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

} // namespace

struct KestrelSamiElement {
  GstElement parent;
  GstPad* sinkPad;
  ElementState* state;
};

struct KestrelSamiElementClass {
  GstElementClass parentClass;
  gboolean perStream; // a pad per stream (the demuxer), else the viewer's stream on "src"
};

G_DEFINE_ABSTRACT_TYPE(KestrelSamiElement, kestrel_sami_element, GST_TYPE_ELEMENT)
#define KESTREL_SAMI_ELEMENT(obj) (reinterpret_cast<KestrelSamiElement*>(obj))

namespace {

enum { kPropPluginPath = 1, kPropLanguage, kPropSubtitleEncoding };

GstStaticPadTemplate sinkTemplate = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS("application/x-subtitle-sami"));
#define KESTREL_TEXT_CAPS "text/x-raw, format=pango-markup"
GstStaticPadTemplate parseSrcTemplate =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS(KESTREL_TEXT_CAPS));
GstStaticPadTemplate demuxSrcTemplate = GST_STATIC_PAD_TEMPLATE(
    "src_%u", GST_PAD_SRC, GST_PAD_SOMETIMES, GST_STATIC_CAPS(KESTREL_TEXT_CAPS));

bool perStream(KestrelSamiElement* self) {
  return reinterpret_cast<KestrelSamiElementClass*>(G_OBJECT_GET_CLASS(self))->perStream != FALSE;
}

bool forwards(const GstSegment& segment) { return segment.rate > 0.0; }

/// Moves every stream to where the segment starts playing: its start forwards, its stop
/// (or the end) backwards.
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

GstStream* describe(const KestrelTool::StreamDescription& stream, const std::string& id,
                    bool selected) {
  GstCaps* caps = gst_caps_from_string(KESTREL_TEXT_CAPS);
  GstStream* description = gst_stream_new(
      id.c_str(), caps, GST_STREAM_TYPE_TEXT,
      static_cast<GstStreamFlags>(GST_STREAM_FLAG_SPARSE |
                                  (selected ? GST_STREAM_FLAG_SELECT : GST_STREAM_FLAG_UNSELECT)));
  gst_caps_unref(caps);
  gst_object_ref_sink(description); // ours, not floating: events and the collection add theirs
  GstTagList* tags = gst_tag_list_new_empty();
  if (!stream.language.empty())
    gst_tag_list_add(tags, GST_TAG_MERGE_REPLACE, GST_TAG_LANGUAGE_CODE, stream.language.c_str(),
                     nullptr);
  if (!stream.name.empty())
    gst_tag_list_add(tags, GST_TAG_MERGE_REPLACE, GST_TAG_TITLE, stream.name.c_str(), nullptr);
  gst_tag_list_add(tags, GST_TAG_MERGE_REPLACE, GST_TAG_SUBTITLE_CODEC, "SAMI", nullptr);
  gst_stream_set_tags(description, tags);
  gst_tag_list_unref(tags);
  return description;
}

gboolean srcEvent(GstPad* pad, GstObject* parent, GstEvent* event);
gboolean srcQuery(GstPad* pad, GstObject* parent, GstQuery* query);

/// Gives the stream a pad: the parser's "src", or a new "src_<index>" of the demuxer.
void addOutput(KestrelSamiElement* self, const KestrelTool::StreamDescription& stream,
               bool selected, guint index) {
  ElementState& state = *self->state;
  Output out;
  out.stream = &stream;
  out.added = perStream(self);
  if (out.added) {
    gchar* name = g_strdup_printf("src_%u", index);
    out.pad = gst_pad_new_from_static_template(&demuxSrcTemplate, name);
    g_free(name);
    gst_pad_set_event_function(out.pad, GST_DEBUG_FUNCPTR(srcEvent));
    gst_pad_set_query_function(out.pad, GST_DEBUG_FUNCPTR(srcQuery));
    gst_pad_use_fixed_caps(out.pad);
  } else {
    out.pad = gst_element_get_static_pad(GST_ELEMENT(self), "src");
    gst_object_unref(out.pad); // the element keeps it
  }
  // decodebin hands a player the streams in the order of their identifiers: the pad's place
  // leads, so that the viewer's stream comes first there too. The parser's "src" goes on as
  // upstream's stream, as a parser's output does: a player that chose upstream's stream
  // (playbin3 selects from the collection made before we parsed) finds it again so.
  gchar* id = out.added ? nullptr : gst_pad_get_stream_id(self->sinkPad);
  if (id == nullptr)
    id = gst_pad_create_stream_id_printf(out.pad, GST_ELEMENT(self), "%04u-%" G_GUINT64_FORMAT,
                                         index, stream.id);
  out.description = describe(stream, id, selected);
  g_free(id);
  if (state.collection != nullptr)
    gst_stream_collection_add_stream(state.collection, GST_STREAM(gst_object_ref(out.description)));
  if (out.added) {
    gst_pad_set_active(out.pad, TRUE);
    gst_element_add_pad(GST_ELEMENT(self), out.pad);
  }
  gst_flow_combiner_add_pad(state.combiner, out.pad);
  state.outputs.push_back(out);
}

/// Opens the document upstream has given whole; false after an element error.
bool openInput(KestrelSamiElement* self) {
  ElementState& state = *self->state;
  KestrelGst::OpenRequest request;
  GST_OBJECT_LOCK(self);
  request.pluginPath = state.pluginPath;
  request.language = state.language;
  request.encoding = state.encoding;
  GST_OBJECT_UNLOCK(self);
  GstQuery* query = gst_query_new_uri();
  if (gst_pad_peer_query(self->sinkPad, query)) {
    gchar* uri = nullptr;
    gst_query_parse_uri(query, &uri);
    if (uri != nullptr)
      request.uri = uri;
    g_free(uri);
  }
  gst_query_unref(query);

  // The bytes are put in one piece only when the open needs them so: most documents are
  // UTF-8 files the container reads by name. A local file's bytes are let go before the open,
  // which so needs no more memory than it did, and read again if they are needed after all.
  request.text = &state.text;
  gchar* local =
      request.uri.empty() ? nullptr : g_filename_from_uri(request.uri.c_str(), nullptr, nullptr);
  if (local != nullptr)
    gst_adapter_clear(state.adapter);
  const gsize size = gst_adapter_available(state.adapter);
  GstBuffer* whole = nullptr;
  GstMapInfo map{};
  gchar* reread = nullptr;
  gsize rereadSize = 0;
  request.bytes = [&]() -> std::string_view {
    if (local != nullptr) {
      if (reread == nullptr && !g_file_get_contents(local, &reread, &rereadSize, nullptr))
        rereadSize = 0;
      return {reread, rereadSize};
    }
    if (whole == nullptr && size > 0) {
      whole = gst_adapter_take_buffer(state.adapter, size);
      if (!gst_buffer_map(whole, &map, GST_MAP_READ))
        map = GstMapInfo{};
    }
    return {reinterpret_cast<const char*>(map.data), map.size};
  };
  KestrelGst::OpenFailure failure;
  auto session = KestrelGst::openDocument(request, failure);
  if (whole != nullptr) {
    if (map.memory != nullptr)
      gst_buffer_unmap(whole, &map);
    gst_buffer_unref(whole);
  }
  g_free(reread);
  g_free(local);
  gst_adapter_clear(state.adapter);
  if (!session) {
    gst_element_message_full(GST_ELEMENT(self), GST_MESSAGE_ERROR, failure.domain, failure.code,
                             g_strdup(failure.message.c_str()), nullptr, __FILE__, GST_FUNCTION,
                             __LINE__);
    return false;
  }

  // Every stream reads against the element's clock, at its latest time: reading ahead gives
  // the samples in the order and with the times the engine would see them.
  state.clock.now = kLatestClock;
  for (const auto& stream : session->streams())
    stream.stream->setClock(&state.clock);
  const auto* selected = session->selected();
  if (selected == nullptr)
    selected = &session->streams().front();
  // The viewer's stream first, marked for selection; the others in the document's order.
  std::vector<const KestrelTool::StreamDescription*> order{selected};
  for (const auto& stream : session->streams())
    if (perStream(self))
      if (&stream != selected)
        order.push_back(&stream);
  gchar* upstreamId = gst_pad_get_stream_id(self->sinkPad);
  if (perStream(self))
    state.collection = gst_stream_collection_new(upstreamId);
  guint index = 0;
  for (const auto* stream : order) {
    addOutput(self, *stream, stream == selected, index);
    ++index;
  }
  g_free(upstreamId);
  GST_OBJECT_LOCK(self);
  state.session = std::move(session);
  positionStreams(state);
  GST_OBJECT_UNLOCK(self);
  if (perStream(self))
    gst_element_no_more_pads(GST_ELEMENT(self));
  if (state.collection != nullptr)
    gst_element_post_message(GST_ELEMENT(self),
                             gst_message_new_stream_collection(GST_OBJECT(self), state.collection));
  return true;
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

/// The streaming task: opens the document once upstream has given all of it, then pushes
/// the next subtitle of all streams (the earliest forwards, the latest backwards).
void loop(gpointer data) {
  auto* self = static_cast<KestrelSamiElement*>(data);
  ElementState& state = *self->state;
  if (!state.session) {
    gst_pad_pause_task(self->sinkPad);
    if (!perStream(self)) {
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

/// The document is whole: the task opens it and plays it from here on.
void endInput(KestrelSamiElement* self) {
  ElementState& state = *self->state;
  if (state.inputEnded)
    return;
  state.inputEnded = true;
  // Opened on upstream's thread, which has nothing more to give: the memory its buffers
  // leave behind is where the container's entries go. The task only plays.
  openInput(self);
  gst_pad_start_task(self->sinkPad, loop, self, nullptr);
}

GstFlowReturn sinkChain(GstPad* pad, GstObject* parent, GstBuffer* buffer) {
  auto* self = KESTREL_SAMI_ELEMENT(parent);
  ElementState& state = *self->state;
  if (state.inputEnded) {
    gst_buffer_unref(buffer);
    return GST_FLOW_OK; // the document was whole already; upstream ends its own stream
  }
  if (state.expectedSize == 0) {
    // Players hold a subtitle stream's EOS back until the video ends (playbin's stream
    // synchronizer), so the document is taken as whole once upstream's size has arrived.
    gint64 size = -1;
    state.expectedSize =
        gst_pad_peer_query_duration(pad, GST_FORMAT_BYTES, &size) && size > 0 ? size : -1;
  }
  GstMapInfo map{};
  if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
    state.text.add({reinterpret_cast<const char*>(map.data), map.size});
    gst_buffer_unmap(buffer, &map);
  }
  gst_adapter_push(state.adapter, buffer);
  if (state.expectedSize > 0 &&
      gst_adapter_available(state.adapter) >= static_cast<gsize>(state.expectedSize))
    endInput(self);
  return GST_FLOW_OK;
}

gboolean sinkEvent(GstPad* pad, GstObject* parent, GstEvent* event) {
  auto* self = KESTREL_SAMI_ELEMENT(parent);
  ElementState& state = *self->state;
  switch (GST_EVENT_TYPE(event)) {
  case GST_EVENT_EOS:
    gst_event_unref(event);
    endInput(self);
    return TRUE;
  case GST_EVENT_GAP:
    // What a stream synchronizer sends in place of an EOS it holds back: after bytes of a
    // document, nothing more is coming.
    gst_event_unref(event);
    if (gst_adapter_available(state.adapter) > 0)
      endInput(self);
    return TRUE;
  case GST_EVENT_FLUSH_STOP:
    if (!state.inputEnded) { // upstream starts over
      gst_adapter_clear(state.adapter);
      state.text = {};
    }
    gst_event_unref(event);
    return TRUE;
  case GST_EVENT_STREAM_START:
    if (!perStream(self) && !state.announced) {
      // The parser's stream is upstream's, announced as upstream announces it, as a parser
      // does: players that choose streams as they appear (playbin3) see it in time.
      const gchar* id = nullptr;
      gst_event_parse_stream_start(event, &id);
      gchar* made =
          id != nullptr ? nullptr : gst_pad_create_stream_id(pad, GST_ELEMENT(self), nullptr);
      GstEvent* start = gst_event_new_stream_start(id != nullptr ? id : made);
      g_free(made);
      guint groupId = 0;
      if (gst_event_parse_group_id(event, &groupId))
        gst_event_set_group_id(start, groupId);
      gst_event_set_stream_flags(start, GST_STREAM_FLAG_SPARSE);
      GstPad* src = gst_element_get_static_pad(GST_ELEMENT(self), "src");
      gst_pad_push_event(src, start);
      GstCaps* caps = gst_pad_get_pad_template_caps(src);
      gst_pad_push_event(src, gst_event_new_caps(caps));
      gst_caps_unref(caps);
      gst_object_unref(src);
      state.announced = true;
    }
    gst_event_unref(event);
    return TRUE;
  case GST_EVENT_CAPS:
  case GST_EVENT_SEGMENT:
  case GST_EVENT_FLUSH_START:
  case GST_EVENT_TAG:
    // Our pads announce their own streams, segments and tags.
    gst_event_unref(event);
    return TRUE;
  default:
    return gst_pad_event_default(pad, parent, event);
  }
}

gboolean sinkActivateMode(GstPad* pad, GstObject*, GstPadMode mode, gboolean active) {
  if (mode != GST_PAD_MODE_PUSH)
    return FALSE;
  // The source pads were deactivated first, so a push the task is blocked in has let go.
  return active ? TRUE : gst_pad_stop_task(pad);
}

/// Gives the container back and forgets the document; the task has stopped.
void closeDocument(KestrelSamiElement* self) {
  ElementState& state = *self->state;
  for (auto& out : state.outputs) {
    gst_flow_combiner_remove_pad(state.combiner, out.pad);
    gst_object_unref(out.description);
    if (out.added) {
      gst_pad_set_active(out.pad, FALSE);
      gst_element_remove_pad(GST_ELEMENT(self), out.pad);
    }
  }
  state.outputs.clear();
  if (state.collection != nullptr)
    gst_object_unref(state.collection);
  state.collection = nullptr;
  GST_OBJECT_LOCK(self);
  std::unique_ptr<KestrelTool::Session> session = std::move(state.session);
  state.duration = GST_CLOCK_TIME_NONE;
  state.seekSeqnum = GST_SEQNUM_INVALID;
  state.segmentSeqnum = GST_SEQNUM_INVALID;
  gst_segment_init(&state.segment, GST_FORMAT_TIME);
  GST_OBJECT_UNLOCK(self);
  session.reset(); // closes the program and releases the container
  gst_adapter_clear(state.adapter);
  state.text = {};
  state.inputEnded = false;
  state.expectedSize = 0;
  state.announced = false;
  state.finished = false;
}

GstStateChangeReturn changeState(GstElement* element, GstStateChange transition) {
  auto* self = KESTREL_SAMI_ELEMENT(element);
  const GstStateChangeReturn result =
      GST_ELEMENT_CLASS(kestrel_sami_element_parent_class)->change_state(element, transition);
  if (result != GST_STATE_CHANGE_FAILURE && transition == GST_STATE_CHANGE_PAUSED_TO_READY)
    closeDocument(self);
  return result;
}

std::string* stringProperty(ElementState& state, guint id) {
  switch (id) {
  case kPropPluginPath:
    return &state.pluginPath;
  case kPropLanguage:
    return &state.language;
  case kPropSubtitleEncoding:
    return &state.encoding;
  default:
    return nullptr;
  }
}

void setProperty(GObject* object, guint id, const GValue* value, GParamSpec* spec) {
  auto* self = KESTREL_SAMI_ELEMENT(object);
  std::string* property = stringProperty(*self->state, id);
  if (property == nullptr) {
    G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, spec);
    return;
  }
  const gchar* text = g_value_get_string(value);
  GST_OBJECT_LOCK(self);
  property->assign(text != nullptr ? text : "");
  GST_OBJECT_UNLOCK(self);
}

void getProperty(GObject* object, guint id, GValue* value, GParamSpec* spec) {
  auto* self = KESTREL_SAMI_ELEMENT(object);
  const std::string* property = stringProperty(*self->state, id);
  if (property == nullptr) {
    G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, spec);
    return;
  }
  GST_OBJECT_LOCK(self);
  g_value_set_string(value, property->c_str());
  GST_OBJECT_UNLOCK(self);
}

void finalize(GObject* object) {
  auto* self = KESTREL_SAMI_ELEMENT(object);
  closeDocument(self);
  delete self->state;
  G_OBJECT_CLASS(kestrel_sami_element_parent_class)->finalize(object);
}

} // namespace

static void kestrel_sami_element_class_init(KestrelSamiElementClass* klass) {
  auto* objectClass = G_OBJECT_CLASS(klass);
  auto* elementClass = GST_ELEMENT_CLASS(klass);
  objectClass->set_property = setProperty;
  objectClass->get_property = getProperty;
  objectClass->finalize = finalize;
  const auto flags = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS |
                                              GST_PARAM_MUTABLE_READY);
  g_object_class_install_property(
      objectClass, kPropPluginPath,
      g_param_spec_string("plugin-path", "Kestrel plug-in",
                          "The Kestrel SAMI plug-in to load (empty: KESTREL_SAMI_PLUGIN, else the "
                          "one installed beside this element)",
                          "", flags));
  g_object_class_install_property(
      objectClass, kPropLanguage,
      g_param_spec_string("language", "Viewer's language",
                          "Language tag of the stream to show first and select, e.g. \"en\" or "
                          "\"ko-KR\" (default: from the locale)",
                          "", flags));
  // The name and meaning subparse gives it, so that playbin's subtitle-encoding (a player's
  // encoding setting) reaches us too.
  g_object_class_install_property(
      objectClass, kPropSubtitleEncoding,
      g_param_spec_string("subtitle-encoding", "Subtitle encoding",
                          "Encoding of documents that are neither UTF-8 nor signed, e.g. "
                          "\"windows-949\" (empty: GST_SUBTITLE_ENCODING, else detected)",
                          "", flags));
  gst_element_class_add_static_pad_template(elementClass, &sinkTemplate);
  elementClass->change_state = GST_DEBUG_FUNCPTR(changeState);
}

static void kestrel_sami_element_init(KestrelSamiElement* self) {
  self->state = new ElementState();
  self->state->language = KestrelTool::preferredLanguageFromLocale();
  self->sinkPad = gst_pad_new_from_static_template(&sinkTemplate, "sink");
  gst_pad_set_chain_function(self->sinkPad, GST_DEBUG_FUNCPTR(sinkChain));
  gst_pad_set_event_function(self->sinkPad, GST_DEBUG_FUNCPTR(sinkEvent));
  gst_pad_set_activatemode_function(self->sinkPad, GST_DEBUG_FUNCPTR(sinkActivateMode));
  gst_element_add_pad(GST_ELEMENT(self), self->sinkPad);
}

// The parser: one always-present "src" pad.
struct KestrelSamiParse {
  KestrelSamiElement parent;
};
struct KestrelSamiParseClass {
  KestrelSamiElementClass parentClass;
};
G_DEFINE_TYPE(KestrelSamiParse, kestrel_sami_parse, kestrel_sami_element_get_type())

static void kestrel_sami_parse_class_init(KestrelSamiParseClass* klass) {
  auto* elementClass = GST_ELEMENT_CLASS(klass);
  gst_element_class_add_static_pad_template(elementClass, &parseSrcTemplate);
  gst_element_class_set_static_metadata(
      elementClass, "Kestrel SAMI subtitle parser", "Codec/Parser/Subtitle",
      "Reads SAMI subtitles through the Kestrel plug-in: the viewer's language, styled",
      "kestrel-sami developers");
  reinterpret_cast<KestrelSamiElementClass*>(klass)->perStream = FALSE;
}

static void kestrel_sami_parse_init(KestrelSamiParse* self) {
  GstPad* src = gst_pad_new_from_static_template(&parseSrcTemplate, "src");
  gst_pad_set_event_function(src, GST_DEBUG_FUNCPTR(srcEvent));
  gst_pad_set_query_function(src, GST_DEBUG_FUNCPTR(srcQuery));
  gst_pad_use_fixed_caps(src);
  gst_element_add_pad(GST_ELEMENT(self), src);
}

// The demuxer: a "src_%u" pad per stream.
struct KestrelSamiDemux {
  KestrelSamiElement parent;
};
struct KestrelSamiDemuxClass {
  KestrelSamiElementClass parentClass;
};
G_DEFINE_TYPE(KestrelSamiDemux, kestrel_sami_demux, kestrel_sami_element_get_type())

static void kestrel_sami_demux_class_init(KestrelSamiDemuxClass* klass) {
  auto* elementClass = GST_ELEMENT_CLASS(klass);
  gst_element_class_add_static_pad_template(elementClass, &demuxSrcTemplate);
  gst_element_class_set_static_metadata(
      elementClass, "Kestrel SAMI subtitle demuxer", "Codec/Demuxer/Subtitle",
      "Reads SAMI subtitles through the Kestrel plug-in: one styled text stream per language",
      "kestrel-sami developers");
  reinterpret_cast<KestrelSamiElementClass*>(klass)->perStream = TRUE;
}

static void kestrel_sami_demux_init(KestrelSamiDemux*) {}

namespace {

void initOnce(GstPlugin* plugin) {
  static gsize done = 0;
  if (g_once_init_enter(&done)) {
    GST_DEBUG_CATEGORY_INIT(kestrelSamiDebug, "kestrelsami", 0, "Kestrel SAMI elements");
    KestrelGst::setElementFile(gst_plugin_get_filename(plugin));
    g_once_init_leave(&done, 1);
  }
}

} // namespace

// The parser is ranked above subparse (primary), so that players draw with it: subtitleoverlay
// takes the best "Parser/Subtitle" element, and playbin's and playbin3's decoding bins try
// parsers before demuxers. The demuxer is for applications that show every language.
GST_ELEMENT_REGISTER_DEFINE_WITH_CODE(kestrelsamiparse, "kestrelsamiparse", GST_RANK_PRIMARY + 1,
                                      kestrel_sami_parse_get_type(), initOnce(plugin));
GST_ELEMENT_REGISTER_DEFINE_WITH_CODE(kestrelsamidemux, "kestrelsamidemux", GST_RANK_PRIMARY + 1,
                                      kestrel_sami_demux_get_type(), initOnce(plugin));
