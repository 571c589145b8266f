// kestrel-sami: plays the engine's part for the SAMI plug-in. It loads the built plug-in with
// dlopen and talks to it only through the engine interfaces, as a media player would.
#include "Options.h"
#include "Tool.h"

#include <iostream>

int main(int argc, char** argv) {
  using namespace KestrelTool;
  const ParsedOptions parsed = parseOptions(argc, argv);
  if (!parsed.error.empty())
    return fail(kExitUsage, parsed.error);
  if (parsed.options.command == Command::Help) {
    std::cout << usageText();
    return 0;
  }
  if (parsed.options.command == Command::Version)
    return printVersions(parsed.options);
  return Tool(parsed.options).run();
}
