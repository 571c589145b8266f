// The GStreamer plug-in that holds the two elements.
#include "SamiElement.h"

namespace {

gboolean pluginInit(GstPlugin* plugin) {
  gboolean registered = FALSE;
  registered |= GST_ELEMENT_REGISTER(kestrelsamiparse, plugin);
  registered |= GST_ELEMENT_REGISTER(kestrelsamidemux, plugin);
  return registered;
}

} // namespace

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, kestrelsami,
                  "SAMI subtitles through the Kestrel plug-in", pluginInit, KESTREL_VERSION,
                  "MIT/X11", PACKAGE, KESTREL_PACKAGE_ORIGIN)
