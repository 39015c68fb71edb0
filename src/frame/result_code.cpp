#include "frame/status.h"

#include "qdparse.h"

namespace qd {

uint32_t ToResultCode(Status status) {
  const uint16_t s = status;
  if (s == ST_OK) return QD_OK;
  if ((s & kAbsenceBit) != 0 || s < ST_NO_MEMORY || s > ST_RESERVED_605A) return QD_E_FAILED;
  switch (s) {
    case ST_NO_MEMORY: return QD_E_NO_MEMORY;
    case ST_BAD_ARGUMENT: return QD_E_INVALID_ARG;
    case ST_SIZE_MISMATCH: return QD_E_SIZE_MISMATCH;
    case ST_UNSUPPORTED: return QD_E_UNSUPPORTED;
    case ST_CORRUPT: return QD_E_CORRUPT;
    case ST_RESERVED_605A: return QD_E_RESERVED_2A;
    default: return QD_E_FAILED;
  }
}

#if defined(__GNUC__)
__attribute__((noinline))
#endif
Status Corrupt() {
  return ST_CORRUPT;
}

const char* StatusName(uint16_t status) {
  switch (status) {
#define QD_STATUS_NAME(value, name) \
  case value: return #name;
    QD_STATUS_LIST(QD_STATUS_NAME)
#undef QD_STATUS_NAME
  }
  return nullptr;
}

#define QD_RESULT_LIST(X)                                                                    \
  X(QD_OK) X(QD_E_FAILED) X(QD_E_NO_MEMORY) X(QD_E_BLOCK_CHECK) X(QD_E_OTHER_MAKER)          \
  X(QD_E_RESERVED_2A) X(QD_E_UNSUPPORTED) X(QD_E_CORRUPT) X(QD_E_NOT_APPLICABLE)             \
  X(QD_E_OUT_OF_RANGE) X(QD_E_INVALID_ARG) X(QD_E_SIZE_MISMATCH) X(QD_E_SHORT_READ)          \
  X(QD_E_SHORT_WRITE)

const char* ResultCodeName(uint32_t code) {
  switch (code) {
#define QD_RESULT_NAME(name) \
  case name: return #name;
    QD_RESULT_LIST(QD_RESULT_NAME)
#undef QD_RESULT_NAME
  }
  return nullptr;
}

}  // namespace qd

extern "C" QD_EXPORT uint32_t QD_API QDParseGetRttIDLatest(uint16_t* id) {
  if (id == nullptr) return QD_E_INVALID_ARG;
  *id = 273;
  return QD_OK;
}
