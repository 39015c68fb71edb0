// Release of any host stream, seek resolution and the error names.
#include "host_stream.h"

#include <cstring>

namespace qdh {

uint32_t ResolveSeek(uint32_t origin, int32_t offset, uint64_t current, uint64_t end,
                     uint64_t* target) {
  int64_t base = 0;
  switch (origin) {
    case QD_SEEK_START:
      // A position from 0 to 2^32 - 1 travels as its 32-bit pattern.
      *target = static_cast<uint32_t>(offset);
      return 0;
    case QD_SEEK_CURRENT: base = static_cast<int64_t>(current); break;
    case QD_SEEK_END: base = static_cast<int64_t>(end); break;
    default: return QDH_E_BAD_ORIGIN;
  }
  const int64_t wanted = base + offset;
  if (wanted < 0) return QDH_E_SEEK_BEFORE_START;
  if (static_cast<uint64_t>(wanted) > kMaxPosition) return QDH_E_TOO_LARGE;
  *target = static_cast<uint64_t>(wanted);
  return 0;
}

}  // namespace qdh

namespace {

struct ErrorEntry {
  uint32_t code;
  const char* name;
  const char* text;
};

#define QDH_ERROR(code, text) {code, #code, text}
constexpr ErrorEntry kErrors[] = {
    QDH_ERROR(QDH_E_INVALID_ARG, "null or unusable argument"),
    QDH_ERROR(QDH_E_NO_MEMORY, "out of memory"),
    QDH_ERROR(QDH_E_BAD_MODE, "unknown open mode"),
    QDH_ERROR(QDH_E_BAD_ORIGIN, "unknown seek origin"),
    QDH_ERROR(QDH_E_NOT_OPEN, "stream is not open"),
    QDH_ERROR(QDH_E_ALREADY_OPEN, "stream is already open"),
    QDH_ERROR(QDH_E_OPEN_FAILED, "file could not be opened"),
    QDH_ERROR(QDH_E_IO, "file read, write, seek or flush failed"),
    QDH_ERROR(QDH_E_TOO_LARGE, "larger than 4 GiB - 1 bytes"),
    QDH_ERROR(QDH_E_SEEK_BEFORE_START, "seek before the start of the stream"),
    QDH_ERROR(QDH_E_READ_ONLY, "stream is read-only"),
    QDH_ERROR(QDH_E_NO_SPACE, "write past the end of fixed memory"),
};
#undef QDH_ERROR

const ErrorEntry* FindError(uint32_t code) {
  for (const ErrorEntry& e : kErrors) {
    if (e.code == code) return &e;
  }
  return nullptr;
}

}  // namespace

extern "C" {

const char* qdhErrorName(uint32_t error) {
  const ErrorEntry* e = FindError(error);
  return e != nullptr ? e->name : nullptr;
}

const char* qdhErrorText(uint32_t error) {
  const ErrorEntry* e = FindError(error);
  return e != nullptr ? e->text : nullptr;
}

void qdhStreamRelease(qdlStream* stream) {
  if (stream == nullptr) return;
  if (qdh::IsFileStream(stream)) {
    qdh::ReleaseFileContext(stream->context);
  } else if (qdh::IsMemoryStream(stream)) {
    qdh::ReleaseMemoryContext(stream->context);
  } else {
    return;
  }
  std::memset(stream, 0, sizeof *stream);
}

}  // extern "C"
