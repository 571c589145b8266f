// The sink pad: upstream's bytes until the document is whole, then the document opened and
// a source pad given to each of its streams.
#include "ElementState.h"

#include <memory>
#include <string>
#include <vector>

#define GST_CAT_DEFAULT kestrelSamiDebug

namespace KestrelGst {
namespace {

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

/// Gives the stream a pad: the parser's "src" to the first, else a new "src_<index>".
void addOutput(KestrelSamiElement* self, const KestrelTool::StreamDescription& stream,
               bool selected, guint index) {
  ElementState& state = *self->state;
  Output out;
  out.stream = &stream;
  out.added = index > 0 || !hasSourcePad(self);
  if (out.added) {
    gchar* name = g_strdup_printf("src_%u", index);
    out.pad = gst_pad_new_from_static_template(&demuxSrcTemplate, name);
    g_free(name);
    setUpSourcePad(out.pad);
  } else {
    out.pad = gst_element_get_static_pad(GST_ELEMENT(self), "src");
    gst_object_unref(out.pad); // the element keeps it
  }
  // decodebin hands a player the streams in the order of their identifiers: the pad's place
  // leads, so that the viewer's stream comes first there too. The parser's "src", when it is
  // the only pad, goes on as upstream's stream, as a parser's output does: a player that chose
  // upstream's stream (playbin3 selects from the collection made before we parsed) finds it
  // again so.
  gchar* id = !out.added && state.announced ? gst_pad_get_stream_id(self->sinkPad) : nullptr;
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
  if (state.collection != nullptr)
    gst_element_post_message(GST_ELEMENT(self),
                             gst_message_new_stream_collection(GST_OBJECT(self), state.collection));
  return true;
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
  completePads(self);
  gst_pad_start_task(self->sinkPad, loop, self, nullptr);
}

} // namespace

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
      completePads(self); // its one stream is there already
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

} // namespace KestrelGst
