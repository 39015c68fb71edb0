// Internal statuses and their one conversion to result codes.
#pragma once

#include <cstdint>

namespace qd {

// value, name: the one list behind the enum and the status names.
#define QD_STATUS_LIST(X)                                                        \
  X(0x0000, ST_OK)                                                               \
  X(0x0015, ST_READER_NO_MEMORY) /* buffered reader could not get its buffer */  \
  X(0x0020, ST_BAD_ORIGIN)       /* buffered reader seek with unknown origin */  \
  X(0x0022, ST_PAST_END)         /* buffered read beyond the stream's end */     \
  X(0x0040, ST_STREAM_FAILED)    /* a host callback reported an error */         \
  X(0x6011, ST_TIFF_HEADER)      /* first-IFD offset of a TIFF header is not 8 */ \
  X(0x6012, ST_WRONG_STATE)      /* data in a state the step cannot handle */    \
  X(0x6015, ST_NO_MEMORY)                                                        \
  X(0x6020, ST_BAD_ARGUMENT)                                                     \
  X(0x6022, ST_SIZE_MISMATCH)                                                    \
  X(0x6044, ST_UNSUPPORTED)                                                      \
  X(0x6045, ST_CORRUPT)                                                          \
  X(0x605A, ST_RESERVED_605A)                                                    \
  X(0x6900, ST_NOT_FOUND) /* absent; also: a probe that does not match */

enum [[nodiscard]] Status : uint16_t {
#define QD_STATUS_ENUM(value, name) name = value,
  QD_STATUS_LIST(QD_STATUS_ENUM)
#undef QD_STATUS_ENUM
};

// Absence statuses carry this bit; they are normally consumed internally.
constexpr uint16_t kAbsenceBit = 0x0800;

// The only place where a status becomes a result code, by the table in
// frame/result_codes.h.
uint32_t ToResultCode(Status status);

// Every "corrupt data" exit goes through here, so one breakpoint catches them all.
Status Corrupt();

}  // namespace qd
