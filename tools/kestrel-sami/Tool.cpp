#include "Tool.h"

#include "ContainerRules.h"
#include "kestrel/Result.h"

#include <iostream>
#include <memory>
#if __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#endif

namespace KestrelTool {
namespace {

// Builds with a sanitizer check for leaks when the process ends.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) ||                         \
    __has_feature(memory_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

} // namespace

bool checksLeaksAtExit() {
#ifdef RUNNING_ON_VALGRIND
  return kSanitized || RUNNING_ON_VALGRIND != 0;
#else
  return kSanitized;
#endif
}

int fail(int code, const std::string& sentence) {
  std::cerr << "kestrel-sami: " << sentence << '\n';
  return code;
}

int Tool::run() {
  if (!file_.inspect(options_.file, error_))
    return fail(kExitNoInput, error_);
  const std::string url = fileUrl(options_.file);
  const std::string absolute = absolutePath(options_.file);
  if (!isWellFormedUtf8(absolute))
    return fail(kExitData,
                "the container cannot open " + options_.file + ": its full path is not UTF-8.");
  if (!ContainerRules::acceptsPathLength(absolute))
    return fail(kExitData, "the container cannot open " + options_.file +
                               ": its full path is longer than 259 characters.");
  encoding_ = chooseEncoding(options_, options_.file, file_);
  file_.forget(); // the plug-in reads the file itself
  // What the rest of a file with a UTF-8 start holds is learnt beside the open; a probe
  // reads so little that it waits for the answer first.
  if (encoding_.provisional)
    restIsUtf8_ = std::async(std::launch::async,
                             [path = options_.file] { return isWellFormedUtf8File(path); });
  if (options_.command == Command::Probe)
    settleEncoding();

  auto library = std::make_unique<PluginLibrary>();
  if (!library->load(options_.pluginPath.value_or(PluginLibrary::defaultPath()), options_.verbose))
    return fail(kExitUnavailable, library->error());
  language_ = options_.language.value_or(preferredLanguageFromLocale());
  std::unique_ptr<Session> session;
  for (;;) {
    session = std::make_unique<Session>(language_, encoding_.settings);
    if (!session->create(library->getPlugin()))
      return fail(kExitUnavailable, session->error());
    if (options_.command == Command::Probe)
      return probe(*session, url, library->logWatch());
    // The reader's messages say why an open failed. Watching them makes every message of
    // the open a call into the logging library (one per subtitle), so a quiet open goes
    // unwatched, and only one that fails is made again, watched, to hear why.
    std::optional<ReaderLog> reader;
    if (options_.verbose)
      reader.emplace(library->logWatch());
    bool opened = session->open(url) == Kestrel::kResultOk;
    if (!settleEncoding()) {
      session.reset(); // the file is opened again, read as every byte of it says
      continue;
    }
    if (!opened && !reader) {
      session = std::make_unique<Session>(language_, encoding_.settings);
      if (!session->create(library->getPlugin()))
        return fail(kExitUnavailable, session->error());
      reader.emplace(library->logWatch());
      opened = session->open(url) == Kestrel::kResultOk;
    }
    if (const int code = opened ? checkOpened(*session) : refused(url, *reader); code != 0)
      return code;
    break;
  }
  Session& opened = *session;
  switch (options_.command) {
  case Command::Info:
    return info(opened);
  case Command::Play:
    return play(opened);
  case Command::Export: {
    const int code = exportStreams(opened);
    if (!options_.verbose && !checksLeaksAtExit())
      keepUntilExit(std::move(library), std::move(session));
    return code;
  }
  default:
    return 0;
  }
}

/// Keeps the plug-in and the session of a finished export until the process ends, as a
/// static that is never destroyed: what is left is the document the container holds, one
/// block per subtitle, and giving it back block by block is work nobody waits for. With
/// --verbose (the plug-in's messages as it lets go) and under a leak checker everything is
/// taken down as usual.
void Tool::keepUntilExit(std::unique_ptr<PluginLibrary> library, std::unique_ptr<Session> session) {
  struct Kept {
    std::unique_ptr<PluginLibrary> library;
    std::unique_ptr<Session> session;
  };
  static Kept* const kept = new Kept{std::move(library), std::move(session)};
  (void)kept;
}

} // namespace KestrelTool
