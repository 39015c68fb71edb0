#include "extract/memory_stream.h"

#include <cstring>

namespace qd::extract {
namespace {

MemoryRange* Range(void* context) { return static_cast<MemoryRange*>(context); }

uint32_t QD_CALLBACK Open(void* context, uint32_t, uint32_t* error) {
  Range(context)->position = 0;
  *error = 0;
  return 0;
}

uint32_t QD_CALLBACK Close(void*, uint32_t* error) {
  *error = 0;
  return 0;
}

uint32_t QD_CALLBACK Read(void* context, void* buffer, uint32_t* count, uint32_t* error) {
  MemoryRange* r = Range(context);
  const uint32_t left = r->position < r->size ? r->size - r->position : 0;
  const uint32_t n = *count < left ? *count : left;
  if (n != 0) std::memcpy(buffer, r->data + r->position, n);
  r->position += n;
  *count = n;
  *error = 0;
  return 0;
}

uint32_t QD_CALLBACK Seek(void* context, uint32_t origin, int32_t offset, uint32_t* error) {
  MemoryRange* r = Range(context);
  int64_t target = 0;
  switch (origin) {
    case QD_SEEK_START: target = static_cast<uint32_t>(offset); break;
    case QD_SEEK_CURRENT: target = int64_t{r->position} + offset; break;
    case QD_SEEK_END: target = int64_t{r->size} + offset; break;
    default: *error = 0xFFFFFFFF; return 0;
  }
  if (target < 0 || target > int64_t{UINT32_MAX}) {
    *error = 0xFFFFFFFF;
    return 0;
  }
  r->position = static_cast<uint32_t>(target);
  *error = 0;
  return 0;
}

uint32_t QD_CALLBACK Tell(void* context, uint32_t* error) {
  *error = 0;
  return Range(context)->position;
}

uint32_t QD_CALLBACK Aux(void*, uint32_t, uint32_t* error) {
  *error = 0;
  return 0;
}

}  // namespace

qdlStream MemoryStream(MemoryRange* range) {
  qdlStream s{};
  s.context = range;
  s.open = Open;
  s.close = Close;
  s.read = Read;
  s.seek = Seek;
  s.tell = Tell;
  s.aux = Aux;
  return s;
}

}  // namespace qd::extract
