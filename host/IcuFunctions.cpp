#include "IcuFunctions.h"

namespace KestrelTool {

const IcuFunctions* icuFunctions() {
  static const IcuFunctions functions{&ucnv_open,
                                      &ucnv_close,
                                      &ucsdet_open,
                                      &ucsdet_close,
                                      &ucsdet_enableInputFilter,
                                      &ucsdet_setText,
                                      &ucsdet_detectAll,
                                      &ucsdet_getName,
                                      &ucsdet_getConfidence,
                                      &u_getVersion,
                                      &u_versionToString};
  return &functions;
}

} // namespace KestrelTool
