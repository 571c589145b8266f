#pragma once

#include <gst/gst.h>

// Two elements over one implementation, both reading SAMI documents through the Kestrel
// plug-in as an engine hosts it:
// - kestrelsamiparse, a subtitle parser with one always-present "src" pad that carries the
//   viewer's stream. subtitleoverlay (playbin's own rendering path) plugs a "Parser/Subtitle"
//   element and links its static "src" pad, and the decoding bins of playbin, playbin3 and
//   decodebin try parsers before anything else. Inside decodebin (uridecodebin, playbin with
//   a text sink), which takes its pads as a demuxer's, it gives every other stream a
//   "src_%u" pad too, with a stream collection; elsewhere (playbin3's parsebin) one stream.
// - kestrelsamidemux, a demuxer with one "src_%u" pad per stream (in practice per language)
//   and a stream collection, for pipelines that name it.
G_BEGIN_DECLS

GST_ELEMENT_REGISTER_DECLARE(kestrelsamiparse);
GST_ELEMENT_REGISTER_DECLARE(kestrelsamidemux);

G_END_DECLS
