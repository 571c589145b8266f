#include "Tool.h"

#include "ContainerRules.h"
#include "kestrel/Result.h"

#include <iostream>
#include <memory>

namespace KestrelTool {

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
  case Command::Export:
    return exportStreams(opened);
  default:
    return 0;
  }
}

} // namespace KestrelTool
