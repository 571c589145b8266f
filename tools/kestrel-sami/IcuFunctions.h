#pragma once

// ICU's declarations only: the functions are found in the system's ICU at run time.
#include <unicode/ucnv.h>
#include <unicode/ucsdet.h>
#include <unicode/uversion.h>

namespace KestrelTool {

/// The ICU functions the tool and the element use: naming code pages, detecting them, and
/// ICU's version. The libraries are loaded by name on first use rather than linked, so a
/// process that only reads UTF-8 never maps or relocates them (half a millisecond of every
/// start).
struct IcuFunctions {
  decltype(&ucnv_open) openConverter = nullptr;
  decltype(&ucnv_close) closeConverter = nullptr;
  decltype(&ucsdet_open) openDetector = nullptr;
  decltype(&ucsdet_close) closeDetector = nullptr;
  decltype(&ucsdet_enableInputFilter) enableInputFilter = nullptr;
  decltype(&ucsdet_setText) setText = nullptr;
  decltype(&ucsdet_detectAll) detectAll = nullptr;
  decltype(&ucsdet_getName) matchName = nullptr;
  decltype(&ucsdet_getConfidence) matchConfidence = nullptr;
  decltype(&u_getVersion) getVersion = nullptr;
  decltype(&u_versionToString) versionToString = nullptr;
};

/// The functions, loaded once per process; null when a library or a function is missing.
[[nodiscard]] const IcuFunctions* icuFunctions();

} // namespace KestrelTool
