// kestrelsamiparse: a GStreamer element that reads SAMI documents through the Kestrel plug-in,
// as an engine hosts it, and gives each subtitle stream of the document (one per language) a
// source pad of its own, in Pango markup.
#include "ElementOs.h"
#include "Host.h"
#include "PangoMarkup.h"
#include "PluginLibrary.h"
#include "ReaderLog.h"
#include "Session.h"
#include "TextEncoding.h"
#include "kestrel/MediaBuffer.h"
#include "kestrel/Result.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <fstream>
#include <gst/gst.h>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

GST_DEBUG_CATEGORY_STATIC(kestrel_sami_debug);
#define GST_CAT_DEFAULT kestrel_sami_debug

namespace {

// The stream hands out a sample when the clock comes within 500 ms of its start; the latest
// time the clock shows stays that far below the largest it can report.
constexpr int32_t kLatestClock = INT32_MAX - 500;
constexpr const char* kPluginFileName = "libkestrel_sami.so";

/// Where the Kestrel plug-in is: named by KESTREL_SAMI_PLUGIN, else beside this element as
/// installed (libdir/kestrel/plugins/, or libdir/) or as built (lib/).
std::string defaultPluginPath() {
  if (const char* named = g_getenv("KESTREL_SAMI_PLUGIN"); named != nullptr && *named != '\0')
    return named;
  const std::string here = KestrelGst::moduleDirectory();
  if (here.empty())
    return kPluginFileName;
  for (const char* relative : {"/../kestrel/plugins/", "/../"}) {
    std::string candidate = here + relative + kPluginFileName;
    if (KestrelGst::fileExists(candidate))
      return candidate;
  }
  return here + "/../kestrel/plugins/" + kPluginFileName;
}

/// The plug-in at path, loaded the way the tool loads it (with our logging library, whose
/// messages say why a document is refused), once per process: an engine keeps it loaded.
/// Null with error set when it can't be loaded.
const KestrelTool::PluginLibrary* loadPlugin(const std::string& path, std::string& error) {
  static std::mutex mutex;
  static std::map<std::string, KestrelTool::PluginLibrary> loaded;
  const std::lock_guard lock(mutex);
  if (const auto it = loaded.find(path); it != loaded.end())
    return &it->second;
  if (!KestrelGst::fileExists(path)) {
    error = "the Kestrel plug-in " + path +
            " does not exist; install it, or name it with the plugin-path property or "
            "KESTREL_SAMI_PLUGIN.";
    return nullptr;
  }
  // The logging library writes where KESTREL_LOG says when it is set; unset, it stays quiet
  // and its messages are only watched.
  const char* log = g_getenv("KESTREL_LOG");
  KestrelTool::PluginLibrary library;
  if (!library.load(path, /*verbose=*/log != nullptr && *log != '\0')) {
    error = library.error();
    return nullptr;
  }
  return &loaded.emplace(path, std::move(library)).first->second;
}

/// How a document without a Unicode signature is read, and how to say so in a message.
struct Encoding {
  KestrelTool::CodePageSettings settings;
  std::string description;
  bool wellFormedUtf8 = false;
};

Encoding chooseEncoding(const std::string& codePage, std::string_view bytes) {
  Encoding choice;
  if (const auto signature = KestrelTool::unicodeSignature(bytes)) {
    choice.description = *signature + " (signature)";
    if (!codePage.empty())
      choice.settings.name = codePage;
  } else if (!codePage.empty()) {
    choice.settings.name = codePage;
    choice.description = codePage + " (the code-page property)";
  } else if (KestrelTool::isWellFormedUtf8(bytes)) {
    choice.description = "UTF-8";
    choice.wellFormedUtf8 = true;
  } else if (const auto detected = KestrelTool::detectCodePage(bytes)) {
    choice.settings.name = detected->converter;
    choice.description = detected->converter + " (detected " + detected->detected + ")";
  } else {
    choice.description = "UTF-8 (assumed; no code page detected)";
  }
  return choice;
}

/// "/path/x.smi" for a file URI the container can open by name; nothing for any other URI.
std::optional<std::string> openablePath(const gchar* uri) {
  if (uri == nullptr || !gst_uri_has_protocol(uri, "file"))
    return std::nullopt;
  gchar* path = g_filename_from_uri(uri, nullptr, nullptr);
  if (path == nullptr)
    return std::nullopt;
  std::string result(path);
  g_free(path);
  // The container accepts only these extensions, and paths of at most 259 UTF-16 units.
  size_t units = 0;
  for (const char c : result)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80)
      units += static_cast<unsigned char>(c) >= 0xF0 ? 2 : 1;
  const bool named = result.ends_with(".smi") || result.ends_with(".sami");
  if (!named || units > 259 || !KestrelTool::isWellFormedUtf8(result))
    return std::nullopt;
  return result;
}

bool readWholeFile(const std::string& path, std::string& bytes) {
  // In one read of the size the file has: byte by byte, a 10 MB document took a fifth of a
  // second before the container saw it.
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in)
    return false;
  const std::streamoff size = in.tellg();
  if (size < 0 || !in.seekg(0))
    return false;
  bytes.resize(static_cast<size_t>(size));
  in.read(bytes.data(), size);
  bytes.resize(static_cast<size_t>(in.gcount())); // a file that shrank meanwhile
  return !in.bad();
}

} // namespace

struct KestrelSamiParse;

/// One source pad: one stream of the document, read by a task of its own.
struct OutputPad {
  KestrelSamiParse* parse = nullptr;
  GstPad* pad = nullptr;
  const KestrelTool::StreamDescription* stream = nullptr;
  guint index = 0; // the pad's place: src_<index>
  bool selected = false;
  bool sendStart = true;   // stream-start, caps and tags are due
  bool sendSegment = true; // a segment event is due
  bool done = false;       // EOS (or segment-done) sent
};

/// The element's state that is not GObject's.
struct ParseState {
  // Properties.
  std::string pluginPath;
  std::string language;
  std::string codePage;

  // The document, while it arrives and once open.
  std::string bytes;
  bool sinkDone = false; // opened, or failed: later input is refused
  bool asked = false;    // upstream was asked for its URI
  std::string uri;       // what upstream answered to the URI query
  std::unique_ptr<KestrelTool::Session> session;
  KestrelTool::ToolClock clock;
  std::vector<std::unique_ptr<OutputPad>> pads;
  GstClockTime duration = GST_CLOCK_TIME_NONE;

  // Playback, under the object lock.
  GstSegment segment{};
  guint32 seekSeqnum = GST_SEQNUM_INVALID;
  guint32 segmentSeqnum = GST_SEQNUM_INVALID;
  guint groupId = 0;
  int padsDone = 0;
};

struct KestrelSamiParse {
  GstElement parent;
  GstPad* sinkPad;
  ParseState* state;
};

struct KestrelSamiParseClass {
  GstElementClass parentClass;
};

G_DEFINE_TYPE(KestrelSamiParse, kestrel_sami_parse, GST_TYPE_ELEMENT)
#define KESTREL_SAMI_PARSE(obj) (reinterpret_cast<KestrelSamiParse*>(obj))

enum { kPropPluginPath = 1, kPropLanguage, kPropCodePage };

static GstStaticPadTemplate sinkTemplate = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS("application/x-subtitle-sami"));
static GstStaticPadTemplate srcTemplate = GST_STATIC_PAD_TEMPLATE(
    "src_%u", GST_PAD_SRC, GST_PAD_SOMETIMES, GST_STATIC_CAPS("text/x-raw, format=pango-markup"));

namespace {

GstClockTime fromMs(uint64_t ms) { return ms * GST_MSECOND; }

enum class Read { Sample, Ended, Failed };

/// The next sample of a stream, read with the element's clock at its latest time. Failed:
/// the container could not make the sample (out of memory), or holds samples later than any
/// clock time; the stream ends there.
Read readSample(Kestrel::StreamInterface* stream, KestrelTool::Cue& cue) {
  Kestrel::MediaChunk* chunk = nullptr;
  const int32_t result = stream->readStream(&chunk);
  if (chunk == nullptr)
    return result == Kestrel::kResultOk ? Read::Ended : Read::Failed;
  const int32_t length = std::clamp(chunk->used, 0, std::max(chunk->size, 0));
  const char* data = chunk->lockData();
  cue.markup.assign(data != nullptr ? data : "", data != nullptr ? length : 0);
  chunk->unlockData();
  cue.start = static_cast<uint32_t>(chunk->timestamp);
  cue.duration = static_cast<uint32_t>(chunk->duration);
  chunk->release(); // the sample goes back to the container's allocator
  return Read::Sample;
}

void pushStart(KestrelSamiParse* self, OutputPad& out) {
  ParseState& state = *self->state;
  // decodebin hands a player the streams in the order of their identifiers: the pad's place
  // leads, so that the viewer's stream comes first there too.
  gchar* streamId = gst_pad_create_stream_id_printf(
      out.pad, GST_ELEMENT(self), "%04u-%" G_GUINT64_FORMAT, out.index, out.stream->id);
  GstEvent* start = gst_event_new_stream_start(streamId);
  gst_event_set_group_id(start, state.groupId);
  gst_event_set_stream_flags(
      start, static_cast<GstStreamFlags>(
                 GST_STREAM_FLAG_SPARSE |
                 (out.selected ? GST_STREAM_FLAG_SELECT : GST_STREAM_FLAG_UNSELECT)));
  GstCaps* caps = gst_static_pad_template_get_caps(&srcTemplate);
  GstTagList* tags = gst_tag_list_new_empty();
  if (!out.stream->language.empty())
    gst_tag_list_add(tags, GST_TAG_MERGE_REPLACE, GST_TAG_LANGUAGE_CODE,
                     out.stream->language.c_str(), nullptr);
  if (!out.stream->name.empty())
    gst_tag_list_add(tags, GST_TAG_MERGE_REPLACE, GST_TAG_TITLE, out.stream->name.c_str(), nullptr);
  gst_tag_list_add(tags, GST_TAG_MERGE_REPLACE, GST_TAG_SUBTITLE_CODEC, "SAMI", nullptr);
  GstStream* stream =
      gst_stream_new(streamId, caps, GST_STREAM_TYPE_TEXT,
                     static_cast<GstStreamFlags>(GST_STREAM_FLAG_SPARSE |
                                                 (out.selected ? GST_STREAM_FLAG_SELECT : 0)));
  gst_stream_set_tags(stream, tags);
  gst_event_set_stream(start, stream);
  gst_object_unref(stream);
  g_free(streamId);
  gst_pad_push_event(out.pad, start);
  gst_pad_push_event(out.pad, gst_event_new_caps(caps));
  gst_caps_unref(caps);
  gst_pad_push_event(out.pad, gst_event_new_tag(tags));
}

/// A pad has nothing more to give in this segment: EOS, or segment-done when asked for.
void finishPad(KestrelSamiParse* self, OutputPad& out) {
  ParseState& state = *self->state;
  GST_OBJECT_LOCK(self);
  const GstSegment segment = state.segment;
  const guint32 seqnum = state.segmentSeqnum;
  const bool last = !out.done && ++state.padsDone == static_cast<int>(state.pads.size());
  out.done = true;
  GST_OBJECT_UNLOCK(self);
  if ((segment.flags & GST_SEGMENT_FLAG_SEGMENT) != 0) {
    const gint64 position = GST_CLOCK_TIME_IS_VALID(segment.stop) ? segment.stop : state.duration;
    GstEvent* event = gst_event_new_segment_done(GST_FORMAT_TIME, position);
    gst_event_set_seqnum(event, seqnum);
    gst_pad_push_event(out.pad, event);
    if (last) {
      GstMessage* message =
          gst_message_new_segment_done(GST_OBJECT(self), GST_FORMAT_TIME, position);
      gst_message_set_seqnum(message, seqnum);
      gst_element_post_message(GST_ELEMENT(self), message);
    }
  } else {
    GstEvent* event = gst_event_new_eos();
    if (seqnum != GST_SEQNUM_INVALID)
      gst_event_set_seqnum(event, seqnum);
    gst_pad_push_event(out.pad, event);
  }
}

void padLoop(gpointer data) {
  auto& out = *static_cast<OutputPad*>(data);
  KestrelSamiParse* self = out.parse;
  ParseState& state = *self->state;
  if (out.sendStart) {
    pushStart(self, out);
    out.sendStart = false;
  }
  if (out.sendSegment) {
    GST_OBJECT_LOCK(self);
    GstEvent* event = gst_event_new_segment(&state.segment);
    if (state.segmentSeqnum != GST_SEQNUM_INVALID)
      gst_event_set_seqnum(event, state.segmentSeqnum);
    GST_OBJECT_UNLOCK(self);
    gst_pad_push_event(out.pad, event);
    out.sendSegment = false;
  }
  if (out.done) {
    gst_pad_pause_task(out.pad);
    return;
  }

  KestrelTool::Cue cue;
  GST_OBJECT_LOCK(self);
  const GstClockTime stop = state.segment.stop;
  GST_OBJECT_UNLOCK(self);
  const Read read = readSample(out.stream->stream, cue);
  if (read == Read::Failed)
    GST_ELEMENT_WARNING(self, STREAM, DECODE,
                        ("the container could not read stream %" G_GUINT64_FORMAT
                         " to its end (out of memory, or subtitles later than any media time); "
                         "the rest of its subtitles were left out.",
                         out.stream->id),
                        (nullptr));
  if (read != Read::Sample || (GST_CLOCK_TIME_IS_VALID(stop) && fromMs(cue.start) >= stop)) {
    finishPad(self, out);
    gst_pad_pause_task(out.pad);
    return;
  }

  const std::string text = KestrelGst::pangoMarkup(cue.markup);
  GstBuffer* buffer = gst_buffer_new_allocate(nullptr, text.size(), nullptr);
  gst_buffer_fill(buffer, 0, text.data(), text.size());
  GST_BUFFER_PTS(buffer) = fromMs(cue.start);
  GST_BUFFER_DURATION(buffer) = fromMs(cue.duration);
  GST_OBJECT_LOCK(self);
  if (!GST_CLOCK_TIME_IS_VALID(state.segment.position) ||
      state.segment.position < GST_BUFFER_PTS(buffer))
    state.segment.position = GST_BUFFER_PTS(buffer);
  GST_OBJECT_UNLOCK(self);

  const GstFlowReturn flow = gst_pad_push(out.pad, buffer);
  if (flow == GST_FLOW_OK)
    return;
  GST_DEBUG_OBJECT(out.pad, "pausing: %s", gst_flow_get_name(flow));
  gst_pad_pause_task(out.pad);
  if (flow == GST_FLOW_EOS) {
    finishPad(self, out);
  } else if (flow == GST_FLOW_NOT_LINKED || flow == GST_FLOW_FLUSHING) {
    // Nobody reads this stream, or a seek or shutdown is under way: nothing to report.
  } else {
    GST_ELEMENT_FLOW_ERROR(self, flow);
    finishPad(self, out);
  }
}

void startTasks(KestrelSamiParse* self) {
  for (auto& out : self->state->pads)
    gst_pad_start_task(out->pad, padLoop, out.get(), nullptr);
}

struct FlushStart {
  GstPad* pad;
  guint32 seqnum;
};

gpointer pushOneFlushStart(gpointer data) {
  const auto* job = static_cast<const FlushStart*>(data);
  GstEvent* event = gst_event_new_flush_start();
  gst_event_set_seqnum(event, job->seqnum);
  gst_pad_push_event(job->pad, event);
  return nullptr;
}

/// Sends flush-start down every pad at once. One at a time is not enough: downstream, a
/// pad's flush can wait for a thread that only another pad's flush sets free (playbin's
/// selector passes on the flush of its active pad alone, while the queue behind it holds the
/// thread of a pad that was active before a switch).
void pushFlushStart(const std::vector<std::unique_ptr<OutputPad>>& pads, guint32 seqnum) {
  std::vector<FlushStart> jobs;
  jobs.reserve(pads.size());
  for (const auto& out : pads)
    jobs.push_back({out->pad, seqnum});
  std::vector<GThread*> threads;
  for (auto& job : jobs) {
    GThread* thread = g_thread_try_new("kestrelsami-flush", pushOneFlushStart, &job, nullptr);
    if (thread == nullptr)
      pushOneFlushStart(&job); // no thread to spare: in turn, as well as it goes
    else
      threads.push_back(thread);
  }
  for (GThread* thread : threads)
    g_thread_join(thread);
}

gboolean handleSeek(KestrelSamiParse* self, GstEvent* event) {
  ParseState& state = *self->state;
  gdouble rate = 1.0;
  GstFormat format = GST_FORMAT_UNDEFINED;
  GstSeekFlags flags = GST_SEEK_FLAG_NONE;
  GstSeekType startType = GST_SEEK_TYPE_NONE;
  GstSeekType stopType = GST_SEEK_TYPE_NONE;
  gint64 start = 0;
  gint64 stop = 0;
  gst_event_parse_seek(event, &rate, &format, &flags, &startType, &start, &stopType, &stop);
  if (format != GST_FORMAT_TIME || rate <= 0.0 || !state.session) {
    GST_DEBUG_OBJECT(self, "refusing a seek that is not forwards in time, or before the open");
    return FALSE;
  }
  const guint32 seqnum = gst_event_get_seqnum(event);
  GST_OBJECT_LOCK(self);
  const bool repeated = seqnum == state.seekSeqnum;
  state.seekSeqnum = seqnum;
  GST_OBJECT_UNLOCK(self);
  if (repeated)
    return TRUE; // the same seek, come up through another of our pads

  const bool flush = (flags & GST_SEEK_FLAG_FLUSH) != 0;
  if (flush)
    pushFlushStart(state.pads, seqnum);
  // Each task stops at the end of the iteration it is in (a non-flushing seek waits for the
  // sample being pushed), so the streams are ours to move.
  for (auto& out : state.pads) {
    gst_pad_pause_task(out->pad);
    GST_PAD_STREAM_LOCK(out->pad);
  }
  GST_OBJECT_LOCK(self);
  gboolean update = FALSE;
  gst_segment_do_seek(&state.segment, rate, format, flags, startType, start, stopType, stop,
                      &update);
  state.segmentSeqnum = seqnum;
  state.padsDone = 0;
  const uint64_t from = state.segment.start / GST_MSECOND;
  GST_OBJECT_UNLOCK(self);
  const auto to = static_cast<uint32_t>(std::min<uint64_t>(from, UINT32_MAX));
  for (auto& out : state.pads) {
    out->stream->stream->seekStream(to, nullptr, 0);
    out->sendSegment = true;
    out->done = false;
    if (flush) {
      GstEvent* flushStop = gst_event_new_flush_stop(TRUE);
      gst_event_set_seqnum(flushStop, seqnum);
      gst_pad_push_event(out->pad, flushStop);
    }
  }
  if ((flags & GST_SEEK_FLAG_SEGMENT) != 0) {
    GstMessage* message = gst_message_new_segment_start(GST_OBJECT(self), GST_FORMAT_TIME,
                                                        static_cast<gint64>(state.segment.start));
    gst_message_set_seqnum(message, seqnum);
    gst_element_post_message(GST_ELEMENT(self), message);
  }
  for (auto& out : state.pads)
    GST_PAD_STREAM_UNLOCK(out->pad);
  startTasks(self);
  return TRUE;
}

gboolean srcEvent(GstPad* pad, GstObject* parent, GstEvent* event) {
  auto* self = KESTREL_SAMI_PARSE(parent);
  if (GST_EVENT_TYPE(event) == GST_EVENT_SEEK) {
    const gboolean handled = handleSeek(self, event);
    gst_event_unref(event);
    return handled;
  }
  // The whole document is read: nothing upstream needs to hear from downstream.
  if (GST_EVENT_TYPE(event) == GST_EVENT_RECONFIGURE || GST_EVENT_TYPE(event) == GST_EVENT_QOS ||
      GST_EVENT_TYPE(event) == GST_EVENT_NAVIGATION) {
    gst_event_unref(event);
    return TRUE;
  }
  return gst_pad_event_default(pad, parent, event);
}

gboolean srcQuery(GstPad* pad, GstObject* parent, GstQuery* query) {
  auto* self = KESTREL_SAMI_PARSE(parent);
  ParseState& state = *self->state;
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
    if (format != GST_FORMAT_TIME || !GST_CLOCK_TIME_IS_VALID(state.duration))
      return FALSE;
    gst_query_set_duration(query, GST_FORMAT_TIME, static_cast<gint64>(state.duration));
    return TRUE;
  }
  case GST_QUERY_SEEKING: {
    GstFormat format;
    gst_query_parse_seeking(query, &format, nullptr, nullptr, nullptr);
    if (format != GST_FORMAT_TIME)
      return FALSE;
    gst_query_set_seeking(
        query, GST_FORMAT_TIME, TRUE, 0,
        GST_CLOCK_TIME_IS_VALID(state.duration) ? static_cast<gint64>(state.duration) : -1);
    return TRUE;
  }
  case GST_QUERY_CAPS: {
    GstCaps* filter = nullptr;
    gst_query_parse_caps(query, &filter);
    GstCaps* caps = gst_pad_get_pad_template_caps(pad);
    if (filter != nullptr) {
      GstCaps* both = gst_caps_intersect_full(filter, caps, GST_CAPS_INTERSECT_FIRST);
      gst_caps_unref(caps);
      caps = both;
    }
    gst_query_set_caps_result(query, caps);
    gst_caps_unref(caps);
    return TRUE;
  }
  default:
    return gst_pad_query_default(pad, parent, query);
  }
}

gboolean srcActivateMode(GstPad* pad, GstObject*, GstPadMode mode, gboolean active) {
  if (mode != GST_PAD_MODE_PUSH)
    return FALSE;
  // Deactivating sets the pad flushing first, so a task blocked downstream lets go.
  return active ? TRUE : gst_pad_stop_task(pad);
}

/// Fails with a message on the bus that says why, as the tool's messages do.
GstFlowReturn fail(KestrelSamiParse* self, GQuark domain, gint code, const std::string& text) {
  self->state->sinkDone = true;
  gst_element_message_full(GST_ELEMENT(self), GST_MESSAGE_ERROR, domain, code,
                           g_strdup(text.c_str()), nullptr, __FILE__, GST_FUNCTION, __LINE__);
  return GST_FLOW_ERROR;
}

GstFlowReturn failStream(KestrelSamiParse* self, const std::string& text) {
  return fail(self, GST_STREAM_ERROR, GST_STREAM_ERROR_DECODE, text);
}

/// Why the container refused the document, from what the element checked itself and what the
/// container's file reader said, as the tool says it.
std::string refusal(const std::string& label, const std::string& bytes, const Encoding& encoding,
                    const KestrelTool::ReaderLog& reader) {
  if (bytes.empty())
    return label + " is empty.";
  // Text taken as it is must hold one character and one more byte.
  if (encoding.wellFormedUtf8 && bytes.size() < 2)
    return label + " holds too little text for the container: it needs at least one character "
                   "and one more byte.";
  if (reader.last()) {
    std::string sentence =
        KestrelTool::readerFailureSentence(*reader.last(), label, encoding.description);
    // The tool names its option; here the same choice is a property.
    static constexpr std::string_view kOption = "--code-page NAME";
    if (const size_t at = sentence.find(kOption); at != std::string::npos)
      sentence.replace(at, kOption.size(), "the code-page property");
    if (!sentence.empty())
      return sentence;
  }
  if (reader.watching() && !reader.last())
    // The text was read; only the scan's bound or memory can refuse it now.
    return "the container refused " + label +
           ": its subtitles would take more than sixteen times its size (style markup repeated "
           "by deeply nested elements), or more memory than there is.";
  return "the container refused " + label +
         " (the logging library that would say why is not loaded).";
}

/// Opens the document (by its file name when upstream has one the container accepts, else by
/// a private copy of the bytes), adds one pad per stream and starts them.
GstFlowReturn openDocument(KestrelSamiParse* self, const std::optional<std::string>& path) {
  ParseState& state = *self->state;
  state.sinkDone = true;
  const std::string label = path                ? *path
                            : state.uri.empty() ? std::string("the SAMI document")
                                                : state.uri;

  std::string error;
  GST_OBJECT_LOCK(self);
  const std::string pluginPath = state.pluginPath.empty() ? defaultPluginPath() : state.pluginPath;
  const std::string language = state.language;
  const std::string codePage = state.codePage;
  GST_OBJECT_UNLOCK(self);
  const auto* library = loadPlugin(pluginPath, error);
  if (library == nullptr)
    return fail(self, GST_LIBRARY_ERROR, GST_LIBRARY_ERROR_INIT, error);

  const Encoding encoding = chooseEncoding(codePage, state.bytes);
  GST_INFO_OBJECT(self, "reading %s as %s, plug-in %s, viewer's language \"%s\"", label.c_str(),
                  encoding.description.c_str(), pluginPath.c_str(), language.c_str());
  auto session = std::make_unique<KestrelTool::Session>(language, encoding.settings);
  if (!session->create(library->getPlugin()))
    return fail(self, GST_LIBRARY_ERROR, GST_LIBRARY_ERROR_INIT, session->error());

  std::string copy;
  if (!path) {
    copy = KestrelGst::writePrivateCopy(state.bytes, error);
    if (copy.empty())
      return fail(self, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_WRITE, error);
  }
  int32_t result = Kestrel::kResultOk;
  std::string refused;
  {
    // The logging library has one watcher per process: documents open one at a time, so that
    // each hears its own reader's messages.
    static std::mutex opening;
    const std::lock_guard lock(opening);
    const KestrelTool::ReaderLog reader(library->logObserve());
    result = session->open(KestrelTool::fileUrl(path ? *path : copy));
    if (result != Kestrel::kResultOk)
      refused = refusal(label, state.bytes, encoding, reader);
  }
  if (!copy.empty())
    KestrelGst::removePrivateCopy(copy); // the container has read it whole
  if (result != Kestrel::kResultOk)
    return failStream(self, refused);
  if (session->streams().empty()) {
    if (!KestrelTool::containsSamiMarker(state.bytes))
      return fail(self, GST_STREAM_ERROR, GST_STREAM_ERROR_WRONG_TYPE,
                  label + " is not a SAMI document: it has no <SAMI> element.");
    return failStream(self, label + " holds no subtitles.");
  }
  state.bytes.clear();
  state.bytes.shrink_to_fit();

  // Every stream reads against the element's clock, at its latest time: reading ahead gives
  // the samples in the order and with the times the engine would see them.
  state.clock.now = kLatestClock;
  uint64_t end = 0;
  for (const auto& stream : session->streams()) {
    stream.stream->setClock(&state.clock);
    stream.stream->setRate(1000);
    stream.stream->seekStream(0, nullptr, 0);
    KestrelTool::Cue cue;
    while (readSample(stream.stream, cue) == Read::Sample)
      end = std::max(end, uint64_t{cue.start} + cue.duration);
    stream.stream->seekStream(0, nullptr, 0);
  }
  state.duration = fromMs(end);

  // The viewer's stream first, marked for selection; the others in the document's order.
  const auto* selected = session->selected();
  std::vector<const KestrelTool::StreamDescription*> order;
  if (selected != nullptr)
    order.push_back(selected);
  for (const auto& stream : session->streams())
    if (&stream != selected)
      order.push_back(&stream);
  state.session = std::move(session);
  state.groupId = gst_util_group_id_next();
  GST_OBJECT_LOCK(self);
  gst_segment_init(&state.segment, GST_FORMAT_TIME);
  state.padsDone = 0;
  GST_OBJECT_UNLOCK(self);

  guint index = 0;
  for (const auto* stream : order) {
    auto out = std::make_unique<OutputPad>();
    out->parse = self;
    out->stream = stream;
    out->index = index;
    out->selected = stream == selected || (selected == nullptr && index == 0);
    gchar* name = g_strdup_printf("src_%u", index++);
    out->pad = gst_pad_new_from_static_template(&srcTemplate, name);
    g_free(name);
    gst_pad_set_event_function(out->pad, srcEvent);
    gst_pad_set_query_function(out->pad, srcQuery);
    gst_pad_set_activatemode_function(out->pad, srcActivateMode);
    gst_pad_use_fixed_caps(out->pad);
    gst_pad_set_active(out->pad, TRUE);
    state.pads.push_back(std::move(out));
  }
  for (auto& out : state.pads)
    gst_element_add_pad(GST_ELEMENT(self), out->pad);
  gst_element_no_more_pads(GST_ELEMENT(self));
  startTasks(self);
  return GST_FLOW_OK;
}

/// Asks upstream where the bytes come from, once, before the first buffer is kept.
std::optional<std::string> askPath(KestrelSamiParse* self) {
  self->state->asked = true;
  GstQuery* query = gst_query_new_uri();
  std::optional<std::string> path;
  if (gst_pad_peer_query(self->sinkPad, query)) {
    gchar* uri = nullptr;
    gst_query_parse_uri(query, &uri);
    if (uri != nullptr) {
      self->state->uri = uri;
      path = openablePath(uri);
    }
    g_free(uri);
  }
  gst_query_unref(query);
  return path;
}

GstFlowReturn sinkChain(GstPad*, GstObject* parent, GstBuffer* buffer) {
  auto* self = KESTREL_SAMI_PARSE(parent);
  ParseState& state = *self->state;
  if (state.sinkDone) {
    gst_buffer_unref(buffer);
    return state.session ? GST_FLOW_EOS : GST_FLOW_ERROR;
  }
  const bool first = !state.asked;
  GstMapInfo map;
  if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
    state.bytes.append(reinterpret_cast<const char*>(map.data), map.size);
    gst_buffer_unmap(buffer, &map);
  }
  gst_buffer_unref(buffer);
  if (!first)
    return GST_FLOW_OK;
  // With a file the container can open by name, the rest of the upstream bytes are not
  // needed: the whole file is read here for the encoding choice and opened at once.
  if (const auto path = askPath(self); path && readWholeFile(*path, state.bytes)) {
    const GstFlowReturn flow = openDocument(self, path);
    return flow == GST_FLOW_OK ? GST_FLOW_EOS : flow;
  }
  return GST_FLOW_OK;
}

gboolean sinkEvent(GstPad* pad, GstObject* parent, GstEvent* event) {
  auto* self = KESTREL_SAMI_PARSE(parent);
  ParseState& state = *self->state;
  switch (GST_EVENT_TYPE(event)) {
  case GST_EVENT_EOS:
    gst_event_unref(event);
    if (!state.sinkDone) {
      // Without a buffer upstream was not asked yet; a file it names is read here.
      auto path = state.asked ? std::nullopt : askPath(self);
      if (path && !readWholeFile(*path, state.bytes))
        path.reset();
      openDocument(self, path);
    }
    return TRUE;
  case GST_EVENT_FLUSH_STOP:
    if (!state.sinkDone)
      state.bytes.clear();
    gst_event_unref(event);
    return TRUE;
  case GST_EVENT_CAPS:
  case GST_EVENT_SEGMENT:
  case GST_EVENT_STREAM_START:
  case GST_EVENT_FLUSH_START:
  case GST_EVENT_TAG:
  case GST_EVENT_GAP:
    // Our pads announce their own streams, segments and tags.
    gst_event_unref(event);
    return TRUE;
  default:
    return gst_pad_event_default(pad, parent, event);
  }
}

/// Stops the streams, gives the container back and removes the pads.
void closeDocument(KestrelSamiParse* self) {
  ParseState& state = *self->state;
  for (auto& out : state.pads)
    gst_pad_stop_task(out->pad);
  if (state.session)
    state.session->close();
  for (auto& out : state.pads) {
    gst_pad_set_active(out->pad, FALSE);
    gst_element_remove_pad(GST_ELEMENT(self), out->pad);
  }
  state.pads.clear();
  state.session.reset();
  state.bytes.clear();
  state.uri.clear();
  state.sinkDone = false;
  state.asked = false;
  state.duration = GST_CLOCK_TIME_NONE;
  GST_OBJECT_LOCK(self);
  state.seekSeqnum = GST_SEQNUM_INVALID;
  state.segmentSeqnum = GST_SEQNUM_INVALID;
  gst_segment_init(&state.segment, GST_FORMAT_TIME);
  GST_OBJECT_UNLOCK(self);
}

GstStateChangeReturn changeState(GstElement* element, GstStateChange transition) {
  auto* self = KESTREL_SAMI_PARSE(element);
  const GstStateChangeReturn result =
      GST_ELEMENT_CLASS(kestrel_sami_parse_parent_class)->change_state(element, transition);
  if (result == GST_STATE_CHANGE_FAILURE)
    return result;
  if (transition == GST_STATE_CHANGE_PAUSED_TO_READY)
    closeDocument(self);
  return result;
}

void setProperty(GObject* object, guint id, const GValue* value, GParamSpec* spec) {
  auto* self = KESTREL_SAMI_PARSE(object);
  const gchar* text = g_value_get_string(value);
  GST_OBJECT_LOCK(self);
  switch (id) {
  case kPropPluginPath:
    self->state->pluginPath = text != nullptr ? text : "";
    break;
  case kPropLanguage:
    self->state->language = text != nullptr ? text : "";
    break;
  case kPropCodePage:
    self->state->codePage = text != nullptr ? text : "";
    break;
  default:
    G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, spec);
  }
  GST_OBJECT_UNLOCK(self);
}

void getProperty(GObject* object, guint id, GValue* value, GParamSpec* spec) {
  auto* self = KESTREL_SAMI_PARSE(object);
  GST_OBJECT_LOCK(self);
  switch (id) {
  case kPropPluginPath:
    g_value_set_string(value, self->state->pluginPath.c_str());
    break;
  case kPropLanguage:
    g_value_set_string(value, self->state->language.c_str());
    break;
  case kPropCodePage:
    g_value_set_string(value, self->state->codePage.c_str());
    break;
  default:
    G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, spec);
  }
  GST_OBJECT_UNLOCK(self);
}

void finalize(GObject* object) {
  auto* self = KESTREL_SAMI_PARSE(object);
  closeDocument(self);
  delete self->state;
  G_OBJECT_CLASS(kestrel_sami_parse_parent_class)->finalize(object);
}

} // namespace

static void kestrel_sami_parse_class_init(KestrelSamiParseClass* klass) {
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
  g_object_class_install_property(
      objectClass, kPropCodePage,
      g_param_spec_string("code-page", "Code page",
                          "Code page of documents without a Unicode signature, e.g. "
                          "\"windows-949\" (empty: detected)",
                          "", flags));
  gst_element_class_add_static_pad_template(elementClass, &sinkTemplate);
  gst_element_class_add_static_pad_template(elementClass, &srcTemplate);
  // A demuxer to decodebin (its class names "Demux", its pads are sometimes pads), which
  // otherwise plugs the first stream alone, and a player sees one language; a parser too, as
  // playbin tries parsers before anything else.
  gst_element_class_set_static_metadata(
      elementClass, "Kestrel SAMI subtitle parser", "Codec/Demuxer/Parser/Subtitle",
      "Reads SAMI subtitles through the Kestrel plug-in: one styled text stream per language",
      "kestrel-sami developers");
  elementClass->change_state = changeState;
}

static void kestrel_sami_parse_init(KestrelSamiParse* self) {
  self->state = new ParseState();
  self->state->language = KestrelTool::preferredLanguageFromLocale();
  gst_segment_init(&self->state->segment, GST_FORMAT_TIME);
  self->sinkPad = gst_pad_new_from_static_template(&sinkTemplate, "sink");
  gst_pad_set_chain_function(self->sinkPad, sinkChain);
  gst_pad_set_event_function(self->sinkPad, sinkEvent);
  gst_element_add_pad(GST_ELEMENT(self), self->sinkPad);
}

static gboolean pluginInit(GstPlugin* plugin) {
  GST_DEBUG_CATEGORY_INIT(kestrel_sami_debug, "kestrelsami", 0, "Kestrel SAMI element");
  // Above subparse (primary), so that decodebin and playbin choose this element for SAMI.
  return gst_element_register(plugin, "kestrelsamiparse", GST_RANK_PRIMARY + 10,
                              kestrel_sami_parse_get_type());
}

#define PACKAGE "kestrel-sami"
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, kestrelsami,
                  "SAMI subtitles through the Kestrel plug-in", pluginInit, KESTREL_VERSION,
                  "MIT/X11", "kestrel-sami", "Unknown package origin")
