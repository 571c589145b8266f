#pragma once

#include <unicode/ucnv.h>
#include <unicode/ucsdet.h>
#include <unicode/uversion.h>

namespace KestrelTool {

/// The ICU functions the tool and the element use: naming code pages, detecting them, and
/// ICU's version, from the ICU they are linked with.
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

/// The functions; never null.
[[nodiscard]] const IcuFunctions* icuFunctions();

} // namespace KestrelTool
