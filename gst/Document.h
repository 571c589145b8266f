#pragma once

#include "Session.h"

#include <functional>
#include <glib.h>
#include <memory>
#include <string>
#include <string_view>

// Opening a SAMI document through the Kestrel plug-in, as an engine hosts it, for the elements.
namespace KestrelGst {

/// Records the file the elements' GStreamer plug-in was loaded from, so that the Kestrel
/// plug-in installed beside it can be found.
void setElementFile(const char* path);

/// What an element learns of a document while its bytes arrive, a piece at a time: enough to
/// choose its encoding without holding it in one piece.
class ArrivingText {
public:
  void add(std::string_view piece);
  [[nodiscard]] size_t size() const { return size_; }
  [[nodiscard]] std::string_view head() const { return head_; }
  /// Whether every byte so far belongs to a well-formed UTF-8 sequence and none is cut off.
  [[nodiscard]] bool wellFormedUtf8() const { return wellFormed_ && pending_.empty(); }

private:
  std::string head_;    // the first bytes, where a signature would be
  std::string pending_; // a sequence that the next piece completes
  size_t size_ = 0;
  bool wellFormed_ = true;
};

/// What an element knows when its input has ended.
struct OpenRequest {
  std::string pluginPath; // empty: KESTREL_SAMI_PLUGIN, else beside the element
  std::string language;   // the viewer's language tag; empty lets the container choose
  std::string encoding;   // for text that is neither signed nor UTF-8; empty: detected
  std::string uri;        // where upstream read the bytes, if it said
  const ArrivingText* text = nullptr;
  /// The whole document in one piece, asked for only when it must be: a private copy,
  /// detecting a code page, or saying why it was refused. Valid until the open returns.
  std::function<std::string_view()> bytes;
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
