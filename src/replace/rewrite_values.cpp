#include "replace/rewrite_values.h"

#include <ctime>

#include "frame/calendar.h"
#include "frame/local_time.h"
#include "frame/stream_port.h"

namespace qd::replace {

void StoreValue(uint8_t* to, const uint8_t* from, uint32_t n, uint32_t element, ByteOrder order) {
  uint32_t i = 0;
  if (element == 2) {
    for (; i + 2 <= n; i += 2) Put16(GetLE16(from + i), to + i, order);
  } else if (element == 4) {
    for (; i + 4 <= n; i += 4) Put32(GetLE32(from + i), to + i, order);
  }
  for (; i < n; ++i) to[i] = from[i];  // bytes, and the tail of a partial element
}

int64_t LocalClockOffset() {
  const time_t now = time(nullptr);
  int32_t offset = 0;
  bool summer = false;
  (void)LocalOffsetAt(now, &offset, &summer);
  return LocalClockToTime(int64_t{now} + offset, summer ? 1 : 0) - LocalClockToTime(now, 0);
}

bool FormatDate(int64_t seconds, char (&text)[kDateText]) {
  const auto t = static_cast<time_t>(seconds);
  struct tm parts {};
  return UtcFields(t, &parts) && std::strftime(text, kDateText, "%Y:%m:%d %H:%M:%S", &parts) != 0;
}

uint32_t FailureResult(const StreamPort& port, Status st) {
  return port.hostError != 0 ? port.hostError : ToResultCode(st);
}

uint32_t WalkFailure(const StreamPort& port, Status st) {
  return FailureResult(port, st == ST_BAD_ARGUMENT ? ST_CORRUPT : st);
}

uint32_t ReadValueStream(const qdlStream* value, BlockOwner* bytes, uint32_t* size) {
  *size = 0;
  if (value == nullptr) return QD_E_INVALID_ARG;
  uint32_t error = 0;
  StreamOpen(value, QD_OPEN_READ, &error);
  if (error != 0) return error;
  const uint32_t n = StreamSize(value, &error);
  uint32_t result = error;
  if (result == 0 && n == 0) result = QD_E_NOT_APPLICABLE;
  if (result == 0) {
    bytes->reset(BlockAlloc(n));
    if (!*bytes) result = QD_E_NOT_APPLICABLE;
  }
  if (result == 0) StreamReadExact(value, bytes->get(), n, kErrorBase, &result);
  StreamClose(value, &error);
  if (result == 0) result = error;
  if (result != 0) {
    bytes->reset();
    return result;
  }
  *size = n;
  return QD_OK;
}

}  // namespace qd::replace
