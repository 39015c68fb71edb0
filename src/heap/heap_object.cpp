#include "heap/heap_object.h"

#include <cstring>

#include "frame/byte_order.h"
#include "frame/memory_block.h"
#include "format/heap_format.h"
#include "heap/record_walk.h"

namespace qd::heap {

Status AttachHeapImage(uint8_t* block, const char* subtype, HeapObject* out) {
  const uint32_t length = BlockLength(block);
  if (length < kFileHeaderSize) return ST_UNSUPPORTED;
  ByteOrder order = kLittleEndian;
  if (!OrderFromMark(block, &order)) return ST_UNSUPPORTED;
  if (std::memcmp(block + 6, "HEAP", 4) != 0) return ST_UNSUPPORTED;
  if (subtype != nullptr && std::memcmp(block + 10, subtype, 4) != 0) return ST_UNSUPPORTED;
  const uint32_t headerLength = Get32(block + 2, order);
  if (headerLength < kFileHeaderSize || headerLength > length) return ST_UNSUPPORTED;

  HeapObject h{};
  h.block = block;
  h.headerLength = headerLength;
  h.version = Get32(block + 14, order);
  std::memcpy(h.type, block + 10, 4);
  h.type[4] = '\0';
  h.heap = block + headerLength;
  h.heapLength = length - headerLength;
  h.bigEndian = order == kBigEndian ? 1 : 0;
  *out = h;
  return ST_OK;
}

Status ReadHeapObject(const HeapObject& h, RecordEntry** cursor, Delivery delivery, ValueRoom* room) {
  if (cursor == nullptr || *cursor == nullptr || h.heap == nullptr) return ST_BAD_ARGUMENT;
  return WalkRecords(h.heap, h.heapLength, h.bigEndian != 0 ? kBigEndian : kLittleEndian, cursor,
                     delivery, room);
}

void ReleaseHeapObject(HeapObject* heap) {
  (void)BlockFree(heap->block);
  *heap = HeapObject{};
}

}  // namespace qd::heap

using qd::heap::Delivery;

extern "C" QD_EXPORT uint32_t QD_API _GetHeapRecordEntryPtr(HeapObject heap, RecordEntry** cursor) {
  return qd::heap::ReadHeapObject(heap, cursor, Delivery::kLocate);
}

extern "C" QD_EXPORT uint32_t QD_API qdParseHeapObject(HeapObject heap, RecordEntry** cursor) {
  return qd::ToResultCode(qd::heap::ReadHeapObject(heap, cursor, Delivery::kCopy));
}

extern "C" QD_EXPORT uint32_t QD_API qdParseFreeHeapObject(HeapObject heap) {
  qd::heap::ReleaseHeapObject(&heap);
  return QD_OK;
}
