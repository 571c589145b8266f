// The plug-in's version and the converter library it loads, as one string inside the shared
// object. The engine boundary has no version query and the object exports nothing but
// _getPlugin, so a host that wants to show them ("kestrel-sami --version") finds this string
// in the file by its fixed first words, "kestrel-sami-plugin-version ".
#ifndef KESTREL_VERSION
#error "KESTREL_VERSION is set by the build"
#endif

namespace Kestrel {
namespace {
[[gnu::used]] constexpr char kVersionText[] =
    "kestrel-sami-plugin-version " KESTREL_VERSION " icu " KESTREL_ICU_LIBRARY;
} // namespace
} // namespace Kestrel
