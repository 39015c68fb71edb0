#include "heap/record_walk.h"

#include <cstring>

#include "frame/memory_block.h"
#include "format/heap_format.h"
#include "heap/heap_table.h"

namespace qd::heap {
namespace {

// Nesting follows the caller's list; this bounds the recursion all the same.
constexpr int kMaxNesting = 64;
// The largest record the library allocates a copy of.
constexpr uint32_t kMaxAllocatedCopy = 0xFFFF;

// Puts a converted table back into the heap's own order on scope exit.
class TableRestorer {
 public:
  TableRestorer(HeapView* view, ByteOrder order, uint32_t tableSize)
      : view_(view), order_(order), tableSize_(tableSize) {}
  TableRestorer(const TableRestorer&) = delete;
  TableRestorer& operator=(const TableRestorer&) = delete;
  ~TableRestorer() { (void)SetTableOrder(view_, kLittleEndian, order_, tableSize_); }

 private:
  HeapView* view_;
  ByteOrder order_;
  uint32_t tableSize_;
};

}  // namespace

const RecordEntry* SkipNested(const RecordEntry* entry) {
  int depth = 1;
  for (const RecordEntry* e = entry + 1;; ++e) {
    if (e->type == 0) {
      if (--depth == 0) return e + 1;
    } else if (IsNestedHeap(e->type)) {
      ++depth;
    }
  }
}

RecordEntry* SkipNested(RecordEntry* entry) {
  return const_cast<RecordEntry*>(SkipNested(static_cast<const RecordEntry*>(entry)));
}

void SwapValues(uint8_t* p, uint32_t bytes, uint16_t kind) {
  if (kind == kKindU16) {
    for (uint32_t i = 0; i + 2 <= bytes; i += 2) PutLE16(Swap16(GetLE16(p + i)), p + i);
  } else if (kind == kKindU32) {
    for (uint32_t i = 0; i + 4 <= bytes; i += 4) PutLE32(Swap32(GetLE32(p + i)), p + i);
  }
}

Status LocateTable(const uint8_t* heap, uint32_t heapLength, ByteOrder order, uint32_t* offset,
                   uint32_t* size) {
  const ByteView bytes(heap, heapLength);
  uint32_t t = 0;
  uint16_t count = 0;
  if (heapLength < kMinHeapLength || !bytes.U32(heapLength - kTableOffsetSize, order, &t) ||
      !bytes.U16(t, order, &count)) {
    return Corrupt();
  }
  // The table must end before the table offset.
  const uint32_t tableSize = uint32_t{count} * kRecordSize + kCountSize;
  if (!bytes.Contains(t, uint64_t{tableSize} + kTableOffsetSize)) return Corrupt();
  *offset = t;
  *size = tableSize;
  return ST_OK;
}

namespace {

void Locate(RecordEntry* e, uint8_t* data, uint32_t length) {
  if (e->found == 0) return;  // not requested
  e->size = length;
  e->pointer = data;
  if (length == 0 || data == nullptr) e->found = 0;
}

// Copies a record of `length` bytes at `data` of the given kind; returns the
// count delivered.
uint32_t Copy(RecordEntry* e, const uint8_t* data, uint32_t length, uint16_t kind, ByteOrder order,
              ValueRoom* room) {
  if (e->pointer == nullptr) return 0;
  if (length == 0) return 0;
  if (e->size != 0) {
    auto* out = static_cast<uint8_t*>(e->pointer);
    const uint32_t m = length < e->size ? length : e->size;
    std::memcpy(out, data, m);
    if (order == kBigEndian) SwapValues(out, m, kind);
    if (kind == kKindAscii && e->size < length && e->size >= 4) std::memcpy(out + e->size - 4, "...", 4);
    return m;
  }
  // Size 0: the caller asks for a block of its own; `pointer` names its variable.
  if (kind != kKindBytes && kind != kKindAscii && kind != kKindU16 && kind != kKindU32) return 0;
  if (length <= kMaxAllocatedCopy) {
    uint8_t* block = room != nullptr ? room->Take(length) : nullptr;
    if (block == nullptr) block = BlockAlloc(length);  // the copy fills it whole
    if (block != nullptr) {
      std::memcpy(block, data, length);
      if (order == kBigEndian) SwapValues(block, length, kind);
      std::memcpy(e->pointer, &block, sizeof block);
    }
  }
  return length;
}

Status Walk(uint8_t* heap, uint32_t heapLength, ByteOrder order, RecordEntry** cursor,
            Delivery delivery, ValueRoom* room, int depth) {
  if (depth > kMaxNesting) return ST_BAD_ARGUMENT;
  uint32_t t = 0;
  uint32_t tableSize = 0;
  Status st = LocateTable(heap, heapLength, order, &t, &tableSize);
  if (st != ST_OK) return st;
  HeapView view{heap + t, t, 0};
  st = SetTableOrder(&view, order, kLittleEndian, tableSize);
  if (st != ST_OK) return st;
  TableRestorer restore(&view, order, tableSize);
  st = ValidateTable(view, t);
  if (st != ST_OK) return st;

  const RecordIndex records(view);
  RecordEntry* e = *cursor;
  while (e->type != 0) {
    uint16_t index = 0;
    RecordInfo info{};
    st = records.Find(e->type, &index, &info);
    if (st != ST_OK && st != ST_NOT_FOUND) return st;
    const bool found = st == ST_OK;
    if (!found) {
      e->found = 0;
      e = IsNestedHeap(e->type) ? SkipNested(e) : e + 1;
      continue;
    }
    // Tiling keeps data-area records inside [0, T); in-record data lies in the
    // table. An empty record's offset is never checked, so it names nothing.
    uint8_t* data = info.length != 0 ? heap + info.offset : nullptr;
    if (IsNestedHeap(e->type)) {
      e->found = 1;
      *cursor = e + 1;
      st = Walk(data, info.length, order, cursor, delivery, room, depth + 1);
      if (st != ST_OK) return st;
      e = *cursor;
      continue;
    }
    if (delivery == Delivery::kLocate) {
      Locate(e, data, info.length);
    } else {
      e->size = Copy(e, data, info.length, info.type & kKindMask, order, room);
      e->found = 1;
    }
    ++e;
  }
  *cursor = e + 1;
  return ST_OK;
}

}  // namespace

Status WalkRecords(uint8_t* heap, uint32_t heapLength, ByteOrder order, RecordEntry** cursor,
                   Delivery delivery, ValueRoom* room) {
  return Walk(heap, heapLength, order, cursor, delivery, room, 0);
}

}  // namespace qd::heap
