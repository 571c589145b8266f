#include "SamiElement.h"

#include "Document.h"
#include "ElementState.h"

#include <memory>
#include <string>

GST_DEBUG_CATEGORY(kestrelSamiDebug);
#define GST_CAT_DEFAULT kestrelSamiDebug

G_DEFINE_ABSTRACT_TYPE(KestrelSamiElement, kestrel_sami_element, GST_TYPE_ELEMENT)

namespace KestrelGst {

GstStaticPadTemplate demuxSrcTemplate = GST_STATIC_PAD_TEMPLATE(
    "src_%u", GST_PAD_SRC, GST_PAD_SOMETIMES, GST_STATIC_CAPS(KESTREL_TEXT_CAPS));

namespace {

enum { kPropPluginPath = 1, kPropLanguage, kPropSubtitleEncoding };

GstStaticPadTemplate sinkTemplate = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS("application/x-subtitle-sami"));
GstStaticPadTemplate parseSrcTemplate =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS(KESTREL_TEXT_CAPS));

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
  state.padsComplete = false;
  state.finished = false;
}

/// Whether the element gives each stream of the document a pad. The demuxer does. The parser
/// does only inside decodebin (GstDecodeBin, which uridecodebin and playbin with a text sink
/// plug): it takes parsers before demuxers, and it offers every pad of an element it treats
/// as a demuxer, so that the application or player chooses among the languages. Everywhere
/// else the parser gives the viewer's stream alone: subtitleoverlay links its "src" pad and
/// nothing more, and playbin3's parsebin must see one text stream (playbin3 of GStreamer 1.22
/// crashes when it tears down an external file with several). The bin is known by now: the
/// element is added to it before it starts.
bool givesAllStreams(KestrelSamiElement* self) {
  if (!hasSourcePad(self))
    return true;
  const GType decodeBin = g_type_from_name("GstDecodeBin"); // 0 before playback's plug-in loads
  GstObject* parent = gst_object_get_parent(GST_OBJECT(self));
  const bool inside =
      parent != nullptr && decodeBin != 0 && G_TYPE_CHECK_INSTANCE_TYPE(parent, decodeBin) != FALSE;
  if (parent != nullptr)
    gst_object_unref(parent);
  return inside;
}

GstStateChangeReturn changeState(GstElement* element, GstStateChange transition) {
  auto* self = KESTREL_SAMI_ELEMENT(element);
  if (transition == GST_STATE_CHANGE_READY_TO_PAUSED) {
    self->state->allStreams = givesAllStreams(self);
    GST_DEBUG_OBJECT(self, "%s",
                     self->state->allStreams ? "a pad per stream" : "the viewer's stream alone");
  }
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

/// What the parser's and the demuxer's classes add to the element's: their source pad
/// template, their description, and whether they give each stream a pad.
void initSubclass(gpointer klass, GstStaticPadTemplate* srcTemplate, const gchar* longName,
                  const gchar* classification, const gchar* description, gboolean perStream) {
  auto* elementClass = GST_ELEMENT_CLASS(klass);
  gst_element_class_add_static_pad_template(elementClass, srcTemplate);
  gst_element_class_set_static_metadata(elementClass, longName, classification, description,
                                        "kestrel-sami developers");
  static_cast<KestrelSamiElementClass*>(klass)->perStream = perStream;
}

} // namespace

void completePads(KestrelSamiElement* self) {
  if (self->state->padsComplete)
    return;
  self->state->padsComplete = true;
  gst_element_no_more_pads(GST_ELEMENT(self));
}

} // namespace KestrelGst

static void kestrel_sami_element_class_init(KestrelSamiElementClass* klass) {
  auto* objectClass = G_OBJECT_CLASS(klass);
  auto* elementClass = GST_ELEMENT_CLASS(klass);
  objectClass->set_property = KestrelGst::setProperty;
  objectClass->get_property = KestrelGst::getProperty;
  objectClass->finalize = KestrelGst::finalize;
  const auto flags = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS |
                                              GST_PARAM_MUTABLE_READY);
  g_object_class_install_property(
      objectClass, KestrelGst::kPropPluginPath,
      g_param_spec_string("plugin-path", "Kestrel plug-in",
                          "The Kestrel SAMI plug-in to load (empty: KESTREL_SAMI_PLUGIN, else the "
                          "one installed beside this element)",
                          "", flags));
  g_object_class_install_property(
      objectClass, KestrelGst::kPropLanguage,
      g_param_spec_string("language", "Viewer's language",
                          "Language tag of the stream to show first and select, e.g. \"en\" or "
                          "\"ko-KR\" (default: from the locale)",
                          "", flags));
  // The name and meaning subparse gives it, so that playbin's subtitle-encoding (a player's
  // encoding setting) reaches us too.
  g_object_class_install_property(
      objectClass, KestrelGst::kPropSubtitleEncoding,
      g_param_spec_string("subtitle-encoding", "Subtitle encoding",
                          "Encoding of documents that are neither UTF-8 nor signed, e.g. "
                          "\"windows-949\" (empty: GST_SUBTITLE_ENCODING, else detected)",
                          "", flags));
  gst_element_class_add_static_pad_template(elementClass, &KestrelGst::sinkTemplate);
  elementClass->change_state = GST_DEBUG_FUNCPTR(KestrelGst::changeState);
}

static void kestrel_sami_element_init(KestrelSamiElement* self) {
  self->state = new KestrelGst::ElementState();
  self->state->language = KestrelTool::preferredLanguageFromLocale();
  self->sinkPad = gst_pad_new_from_static_template(&KestrelGst::sinkTemplate, "sink");
  gst_pad_set_chain_function(self->sinkPad, GST_DEBUG_FUNCPTR(KestrelGst::sinkChain));
  gst_pad_set_event_function(self->sinkPad, GST_DEBUG_FUNCPTR(KestrelGst::sinkEvent));
  gst_pad_set_activatemode_function(self->sinkPad, GST_DEBUG_FUNCPTR(KestrelGst::sinkActivateMode));
  gst_element_add_pad(GST_ELEMENT(self), self->sinkPad);
}

// The parser: one always-present "src" pad, and inside decodebin a "src_%u" pad for each
// other stream. "Demuxer" in its class makes decodebin take those pads as a demuxer's,
// "Parser/Subtitle" keeps it subtitleoverlay's parser.
struct KestrelSamiParse {
  KestrelSamiElement parent;
};
struct KestrelSamiParseClass {
  KestrelSamiElementClass parentClass;
};
G_DEFINE_TYPE(KestrelSamiParse, kestrel_sami_parse, kestrel_sami_element_get_type())

static void kestrel_sami_parse_class_init(KestrelSamiParseClass* klass) {
  KestrelGst::initSubclass(
      klass, &KestrelGst::parseSrcTemplate, "Kestrel SAMI subtitle parser",
      "Codec/Demuxer/Parser/Subtitle",
      "Reads SAMI subtitles through the Kestrel plug-in: the viewer's language, styled (inside "
      "decodebin, every language, the viewer's first)",
      /*perStream=*/FALSE);
  gst_element_class_add_static_pad_template(GST_ELEMENT_CLASS(klass),
                                            &KestrelGst::demuxSrcTemplate);
}

static void kestrel_sami_parse_init(KestrelSamiParse* self) {
  GstPad* src = gst_pad_new_from_static_template(&KestrelGst::parseSrcTemplate, "src");
  KestrelGst::setUpSourcePad(src);
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
  KestrelGst::initSubclass(
      klass, &KestrelGst::demuxSrcTemplate, "Kestrel SAMI subtitle demuxer",
      "Codec/Demuxer/Subtitle",
      "Reads SAMI subtitles through the Kestrel plug-in: one styled text stream per language",
      /*perStream=*/TRUE);
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
// takes the best "Parser/Subtitle" element, and the decoding bins try parsers before demuxers
// (inside decodebin the parser gives every language). The demuxer is for pipelines that name
// it.
GST_ELEMENT_REGISTER_DEFINE_WITH_CODE(kestrelsamiparse, "kestrelsamiparse", GST_RANK_PRIMARY + 1,
                                      kestrel_sami_parse_get_type(), initOnce(plugin));
GST_ELEMENT_REGISTER_DEFINE_WITH_CODE(kestrelsamidemux, "kestrelsamidemux", GST_RANK_PRIMARY + 1,
                                      kestrel_sami_demux_get_type(), initOnce(plugin));
