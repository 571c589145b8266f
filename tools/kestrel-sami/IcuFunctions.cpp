#include "IcuFunctions.h"

#include <dlfcn.h>

namespace KestrelTool {
namespace {

// ICU's functions carry its major version in their names (ucnv_open_72); #f names the
// function as written, before ICU's own macros rename it.
#define KESTREL_ICU_NAME(f) #f KESTREL_ICU_SUFFIX

template <class Function> bool find(void* library, const char* name, Function& function) {
  function = reinterpret_cast<Function>(dlsym(library, name));
  return function != nullptr;
}

const IcuFunctions* load() {
  // Kept for the life of the process, as the plug-in keeps its own converter library.
  void* common = dlopen(KESTREL_ICU_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  void* i18n = dlopen(KESTREL_ICU_I18N_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  if (common == nullptr || i18n == nullptr)
    return nullptr;
  static IcuFunctions functions;
  IcuFunctions& f = functions;
  const bool complete =
      find(common, KESTREL_ICU_NAME(ucnv_open), f.openConverter) &&
      find(common, KESTREL_ICU_NAME(ucnv_close), f.closeConverter) &&
      find(i18n, KESTREL_ICU_NAME(ucsdet_open), f.openDetector) &&
      find(i18n, KESTREL_ICU_NAME(ucsdet_close), f.closeDetector) &&
      find(i18n, KESTREL_ICU_NAME(ucsdet_enableInputFilter), f.enableInputFilter) &&
      find(i18n, KESTREL_ICU_NAME(ucsdet_setText), f.setText) &&
      find(i18n, KESTREL_ICU_NAME(ucsdet_detectAll), f.detectAll) &&
      find(i18n, KESTREL_ICU_NAME(ucsdet_getName), f.matchName) &&
      find(i18n, KESTREL_ICU_NAME(ucsdet_getConfidence), f.matchConfidence) &&
      find(common, KESTREL_ICU_NAME(u_getVersion), f.getVersion) &&
      find(common, KESTREL_ICU_NAME(u_versionToString), f.versionToString);
  return complete ? &functions : nullptr;
}

#undef KESTREL_ICU_NAME

} // namespace

const IcuFunctions* icuFunctions() {
  static const IcuFunctions* const functions = load();
  return functions;
}

} // namespace KestrelTool
