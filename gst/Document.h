#pragma once

#include "Session.h"

#include <glib.h>
#include <memory>
#include <string>
#include <string_view>

// Opening a SAMI document through the Kestrel plug-in, as an engine hosts it, for the elements.
namespace KestrelGst {

/// Records the file the elements' GStreamer plug-in was loaded from, so that the Kestrel
/// plug-in installed beside it can be found.
void setElementFile(const char* path);

/// What an element knows when its input has ended.
struct OpenRequest {
  std::string pluginPath; // empty: KESTREL_SAMI_PLUGIN, else beside the element
  std::string language;   // the viewer's language tag; empty lets the container choose
  std::string encoding;   // for text that is neither signed nor UTF-8; empty: detected
  std::string uri;        // where upstream read the bytes, if it said
  std::string_view bytes; // the whole document as upstream gave it
};

/// Why a document could not be opened, as an element error: a GStreamer error domain and
/// code, and one sentence.
struct OpenFailure {
  GQuark domain = 0;
  gint code = 0;
  std::string message;
};

/// Opens the document (by its file name when upstream read a local file the container
/// accepts, else from a private copy of the bytes, removed again once read), selects its
/// program and leaves the session with at least one stream. Null with failure filled in
/// when it can't.
[[nodiscard]] std::unique_ptr<KestrelTool::Session> openDocument(const OpenRequest& request,
                                                                 OpenFailure& failure);

} // namespace KestrelGst
