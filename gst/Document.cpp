#include "Document.h"

#include "ContainerRules.h"
#include "Diagnosis.h"
#include "Encoding.h"
#include "PluginLibrary.h"
#include "ReaderLog.h"
#include "TextEncoding.h"
#include "kestrel/Result.h"

#include <algorithm>
#include <glib/gstdio.h>
#include <gst/gst.h>
#include <map>
#include <mutex>
#include <optional>

GST_DEBUG_CATEGORY_EXTERN(kestrelSamiDebug);
#define GST_CAT_DEFAULT kestrelSamiDebug

namespace KestrelGst {
namespace {

constexpr const char* kPluginFileName = "libkestrel_sami.so";

std::string& elementDirectory() {
  static std::string directory;
  return directory;
}

bool isFile(const std::string& path) {
  return g_file_test(path.c_str(), G_FILE_TEST_IS_REGULAR) != FALSE;
}

/// Where the Kestrel plug-in is: named by KESTREL_SAMI_PLUGIN, else beside the element as
/// installed (libdir/kestrel/plugins/ beside libdir/gstreamer-1.0/) or as built (lib/).
std::string defaultPluginPath() {
  if (const char* named = g_getenv("KESTREL_SAMI_PLUGIN"); named != nullptr && *named != '\0')
    return named;
  const std::string& here = elementDirectory();
  if (here.empty())
    return kPluginFileName;
  for (const char* relative : {"/../kestrel/plugins/", "/../"}) {
    std::string candidate = here + relative + kPluginFileName;
    if (isFile(candidate))
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
  if (!isFile(path)) {
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

/// As GStreamer's own subtitle parser decides: a signature, else UTF-8 when the text is
/// well-formed UTF-8, else the encoding a player named (the property, else
/// GST_SUBTITLE_ENCODING), else what ICU detects. A player's encoding setting is a fallback
/// for legacy files: it must not garble the UTF-8 files it was never meant for.
KestrelTool::EncodingChoice chooseEncoding(const std::string& property,
                                           const OpenRequest& request) {
  std::string named = property;
  std::string source = "the subtitle-encoding property";
  if (const char* fallback = g_getenv("GST_SUBTITLE_ENCODING");
      named.empty() && fallback != nullptr && *fallback != '\0') {
    named = fallback;
    source = "GST_SUBTITLE_ENCODING";
  }
  if (auto signature = KestrelTool::bySignature(request.text->head()))
    return std::move(*signature);
  if (request.text->wellFormedUtf8())
    return KestrelTool::asUtf8();
  if (!named.empty())
    return KestrelTool::byName(named, source);
  return KestrelTool::detected(request.bytes());
}

/// "/path/x.smi" for a file URI the container can open by name; nothing for any other URI.
std::optional<std::string> openablePath(const std::string& uri) {
  if (uri.empty() || !gst_uri_has_protocol(uri.c_str(), "file"))
    return std::nullopt;
  gchar* path = g_filename_from_uri(uri.c_str(), nullptr, nullptr);
  if (path == nullptr)
    return std::nullopt;
  std::string result(path);
  g_free(path);
  using KestrelTool::ContainerRules;
  if (!ContainerRules::acceptsName(result) || !ContainerRules::acceptsPathLength(result) ||
      !KestrelTool::isWellFormedUtf8(result))
    return std::nullopt;
  return result;
}

/// A private copy of bytes in a new file named "*.smi" (so that the container accepts it),
/// which goes away with this object.
class PrivateCopy {
public:
  PrivateCopy() = default;
  PrivateCopy(const PrivateCopy&) = delete;
  PrivateCopy& operator=(const PrivateCopy&) = delete;
  ~PrivateCopy() {
    if (path_ != nullptr)
      g_unlink(path_);
    g_free(path_);
  }

  /// Writes the copy; false with error set when that fails.
  [[nodiscard]] bool write(std::string_view bytes, std::string& error) {
    GError* failure = nullptr;
    const gint fd = g_file_open_tmp("kestrel-sami-XXXXXX.smi", &path_, &failure); // mode 0600
    if (fd < 0)
      return fail(failure, error);
    g_close(fd, nullptr);
    if (!g_file_set_contents_full(path_, bytes.data(), static_cast<gssize>(bytes.size()),
                                  G_FILE_SET_CONTENTS_NONE, 0600, &failure))
      return fail(failure, error);
    return true;
  }
  [[nodiscard]] const char* path() const { return path_; }

private:
  static bool fail(GError* failure, std::string& error) {
    error = std::string("cannot make a private copy of the document: ") +
            (failure != nullptr ? failure->message : "unknown error") + ".";
    g_clear_error(&failure);
    return false;
  }

  gchar* path_ = nullptr;
};

constexpr size_t kHeadSize = 8; // the longest signature, and then some

} // namespace

void ArrivingText::add(std::string_view piece) {
  size_ += piece.size();
  if (head_.size() < kHeadSize)
    head_.append(piece.substr(0, kHeadSize - head_.size()));
  if (!wellFormed_)
    return;
  // A sequence cut by the end of the last piece is checked once this one completes it.
  if (!pending_.empty()) {
    const size_t missing =
        KestrelTool::utf8LeadLength(static_cast<unsigned char>(pending_[0])) - pending_.size();
    const size_t taken = std::min(missing, piece.size());
    pending_.append(piece.substr(0, taken));
    piece.remove_prefix(taken);
    if (taken < missing)
      return;
    wellFormed_ = KestrelTool::isWellFormedUtf8(pending_);
    pending_.clear();
    if (!wellFormed_)
      return;
  }
  if (KestrelTool::isWellFormedUtf8(piece))
    return; // the common case, told without tracking where characters end
  const size_t good = KestrelTool::wellFormedUtf8Prefix(piece);
  const std::string_view rest = piece.substr(good);
  if (rest.empty())
    return;
  // What the checker stopped at is either ill-formed or the start of a sequence this piece
  // cuts off; only the next piece can tell.
  const size_t length = KestrelTool::utf8LeadLength(static_cast<unsigned char>(rest[0]));
  if (length > rest.size())
    pending_.assign(rest);
  else
    wellFormed_ = false;
}

void setElementFile(const char* path) {
  if (path == nullptr)
    return;
  gchar* directory = g_path_get_dirname(path);
  elementDirectory() = directory;
  g_free(directory);
}

std::unique_ptr<KestrelTool::Session> openDocument(const OpenRequest& request,
                                                   OpenFailure& failure) {
  const auto fail = [&failure](GQuark domain, gint code, std::string message) {
    failure = {domain, code, std::move(message)};
    return nullptr;
  };
  const std::optional<std::string> path = openablePath(request.uri);
  // Named as the viewer knows it: the file's name, else where it came from.
  std::string label = path ? *path : request.uri;
  if (gchar* name = path ? nullptr : g_filename_from_uri(request.uri.c_str(), nullptr, nullptr)) {
    label = name;
    g_free(name);
  }
  if (label.empty())
    label = "the SAMI document";
  std::string error;
  const std::string pluginPath =
      request.pluginPath.empty() ? defaultPluginPath() : request.pluginPath;
  const auto* library = loadPlugin(pluginPath, error);
  if (library == nullptr)
    return fail(GST_LIBRARY_ERROR, GST_LIBRARY_ERROR_INIT, error);

  const KestrelTool::EncodingChoice encoding = chooseEncoding(request.encoding, request);
  GST_INFO("reading %s as %s, plug-in %s, viewer's language \"%s\"", label.c_str(),
           encoding.description.c_str(), pluginPath.c_str(), request.language.c_str());
  auto session = std::make_unique<KestrelTool::Session>(request.language, encoding.settings);
  if (!session->create(library->getPlugin()))
    return fail(GST_LIBRARY_ERROR, GST_LIBRARY_ERROR_INIT, session->error());

  PrivateCopy copy;
  if (!path && !copy.write(request.bytes(), error))
    return fail(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_WRITE, error);
  int32_t result = Kestrel::kResultOk;
  std::string refused;
  {
    // The logging library has one watcher per process: documents open one at a time, so that
    // each hears its own reader's messages. Only the file reader's messages are watched: the
    // scan's, one a subtitle, would cost the open a call each.
    static std::mutex opening;
    const std::lock_guard lock(opening);
    const KestrelTool::ReaderLog reader(library->logWatch());
    result = session->open(KestrelTool::fileUrl(path ? *path : copy.path()));
    if (result != Kestrel::kResultOk)
      refused =
          KestrelTool::refusalSentence({label, request.text->size(), encoding.wellFormedUtf8,
                                        encoding.description, "the subtitle-encoding property"},
                                       reader);
  }
  if (result != Kestrel::kResultOk)
    return fail(GST_STREAM_ERROR, GST_STREAM_ERROR_DECODE, refused);
  if (session->streams().empty()) {
    if (!KestrelTool::containsSamiMarker(request.bytes()))
      return fail(GST_STREAM_ERROR, GST_STREAM_ERROR_WRONG_TYPE,
                  label + " is not a SAMI document: it has no <SAMI> element.");
    return fail(GST_STREAM_ERROR, GST_STREAM_ERROR_DECODE, label + " holds no subtitles.");
  }
  return session;
}

} // namespace KestrelGst
