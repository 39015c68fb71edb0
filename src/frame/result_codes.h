// Result codes: the one table behind the status conversion and the code
// names. The numbers are the public defines of qdparse.h, so the table
// cannot drift from the interface; it adds which status converts to each
// code and a one-line description.
#pragma once

#include <cstdint>

#include "frame/status.h"
#include "qdparse.h"

namespace qd {

// For codes that no status converts to: exports produce them themselves, and
// QD_E_FAILED stands for every status without a code of its own.
constexpr int32_t kNoStatus = -1;

// name, status, description
#define QD_RESULT_CODE_LIST(X)                                                              \
  X(QD_OK, ST_OK, "success")                                                                \
  X(QD_E_FAILED, kNoStatus, "failure without a code of its own")                           \
  X(QD_E_NO_MEMORY, ST_NO_MEMORY, "out of memory")                                          \
  X(QD_E_BLOCK_CHECK, kNoStatus, "a released block failed its ownership check")             \
  X(QD_E_OTHER_MAKER, kNoStatus, "Exif Make is not the camera maker's name")                \
  X(QD_E_RESERVED_2A, ST_RESERVED_605A, "reserved failure")                                 \
  X(QD_E_UNSUPPORTED, ST_UNSUPPORTED, "not a format this call handles")                     \
  X(QD_E_CORRUPT, ST_CORRUPT, "inconsistent structure")                                     \
  X(QD_E_NOT_APPLICABLE, kNoStatus, "wrong file kind, model or property identifier")        \
  X(QD_E_OUT_OF_RANGE, kNoStatus, "a referenced block runs past its container")             \
  X(QD_E_INVALID_ARG, ST_BAD_ARGUMENT, "a required argument or callback is missing")        \
  X(QD_E_SIZE_MISMATCH, ST_SIZE_MISMATCH, "new data does not fit the space it replaces")    \
  X(QD_E_SHORT_READ, kNoStatus, "a host read delivered 0 or more bytes than asked")         \
  X(QD_E_SHORT_WRITE, kNoStatus, "a host write took 0 or more bytes than offered")

struct ResultCodeEntry {
  uint32_t code;
  int32_t status;  // a Status, or kNoStatus
  const char* name;
  const char* text;
};

inline constexpr ResultCodeEntry kResultCodes[] = {
#define QD_RESULT_CODE_ENTRY(name, status, text) {name, status, #name, text},
    QD_RESULT_CODE_LIST(QD_RESULT_CODE_ENTRY)
#undef QD_RESULT_CODE_ENTRY
};

// The entry of a code, or nullptr for a value the library does not produce
// itself (a host's own error, say).
inline const ResultCodeEntry* FindResultCode(uint32_t code) {
  for (const ResultCodeEntry& e : kResultCodes) {
    if (e.code == code) return &e;
  }
  return nullptr;
}

}  // namespace qd
