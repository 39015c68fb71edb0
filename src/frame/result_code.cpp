#include "frame/result_codes.h"

namespace qd {

uint32_t ToResultCode(Status status) {
  // Absence is consumed inside the library; one that escapes is a plain failure.
  if ((status & kAbsenceBit) != 0) return QD_E_FAILED;
  for (const ResultCodeEntry& e : kResultCodes) {
    if (e.status == status) return e.code;
  }
  return QD_E_FAILED;
}

#if defined(__GNUC__)
__attribute__((noinline))
#endif
Status Corrupt() {
  return ST_CORRUPT;
}

}  // namespace qd

extern "C" QD_EXPORT uint32_t QD_API QDParseGetRttIDLatest(uint16_t* id) {
  if (id == nullptr) return QD_E_INVALID_ARG;
  *id = 273;
  return QD_OK;
}
