#include "heap/heap_table.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "frame/memory_block.h"

namespace qd::heap {
namespace {

uint8_t* Record(const HeapView& view, uint16_t index) {
  return view.table + kCountSize + kRecordSize * (uint32_t{index} - 1);
}

bool IsLittleEndian(const HeapView& view) { return (view.flags & kTableBigEndian) == 0; }

RecordInfo InfoAt(const HeapView& view, uint16_t index) {
  const uint8_t* r = Record(view, index);
  const uint16_t type = GetLE16(r);
  RecordInfo info{static_cast<uint16_t>(type & kMatchMask), static_cast<uint16_t>(type & kLocationMask),
                  0, 0};
  if (IsInRecord(type)) {
    info.length = kInRecordDataSize;
    // Where record bytes 2-9 lie within the heap: T + 10 * index - 6.
    info.offset = view.dataLength + kRecordSize * index - 6;
  } else {
    info.length = GetLE32(r + 2);
    info.offset = GetLE32(r + 6);
  }
  return info;
}

}  // namespace

uint16_t RecordCount(const HeapView& view) { return GetLE16(view.table); }

Status FindRecord(const HeapView& view, uint16_t first, const uint16_t* types, uint16_t typeCount,
                  uint16_t* index, RecordInfo* info) {
  if (!IsLittleEndian(view)) return ST_WRONG_STATE;
  const uint16_t count = RecordCount(view);
  if (first == 0) first = 1;
  for (uint32_t i = first; i <= count; ++i) {
    const uint16_t type = GetLE16(Record(view, static_cast<uint16_t>(i))) & kMatchMask;
    for (uint16_t t = 0; t < typeCount; ++t) {
      if ((types[t] & kMatchMask) != type) continue;
      *index = static_cast<uint16_t>(i);
      *info = InfoAt(view, *index);
      return ST_OK;
    }
  }
  return ST_NOT_FOUND;
}

RecordIndex::RecordIndex(const HeapView& view) : view_(view) {
  const uint16_t count = RecordCount(view);
  if (!IsLittleEndian(view) || count > kCapacity) return;  // Find scans
  types_.Build(count, [&view](uint32_t i) {
    return static_cast<uint16_t>(GetLE16(Record(view, static_cast<uint16_t>(i + 1))) & kMatchMask);
  });
  indexed_ = true;
}

Status RecordIndex::Find(uint16_t type, uint16_t* index, RecordInfo* info) const {
  if (!indexed_) return FindRecord(view_, 1, &type, 1, index, info);
  uint32_t at = 0;
  if (!types_.Find(type & kMatchMask, &at)) return ST_NOT_FOUND;
  *index = static_cast<uint16_t>(at + 1);
  *info = InfoAt(view_, *index);
  return ST_OK;
}

Status GetRecordInfo(const HeapView& view, uint16_t index, RecordInfo* info) {
  if (!IsLittleEndian(view)) return ST_WRONG_STATE;
  if (index == 0 || index > RecordCount(view)) return ST_BAD_ARGUMENT;
  *info = InfoAt(view, index);
  return ST_OK;
}

Status SetRecordInfo(const HeapView& view, uint16_t index, const RecordInfo& info) {
  if (!IsLittleEndian(view)) return ST_WRONG_STATE;
  if (index == 0 || index > RecordCount(view)) return ST_BAD_ARGUMENT;
  uint8_t* r = Record(view, index);
  const uint16_t type = info.type & kMatchMask;
  const bool inRecord = (info.location & kInRecordBit) != 0;
  if (type == kTypeUnused || type == kTypeFree) {
    // Unused and free-space records are always bare, data-in-heap records.
    if (inRecord) {
      std::memset(r, 0, kRecordSize);
      return ST_OK;
    }
    PutLE16(type, r);
    PutLE32(info.length, r + 2);
    PutLE32(info.offset, r + 6);
    return ST_OK;
  }
  PutLE16(static_cast<uint16_t>(type | (info.location & kLocationMask)), r);
  if (!inRecord) {
    PutLE32(info.length, r + 2);
    PutLE32(info.offset, r + 6);
  }
  return ST_OK;
}

void InitTable(uint8_t* table, uint16_t count, uint32_t dataLength, HeapView* view) {
  PutLE16(count, table);
  std::memset(table + kCountSize, 0, size_t{kRecordSize} * count);
  *view = HeapView{table, dataLength, 0};
  if (count != 0 && dataLength != 0) {
    (void)SetRecordInfo(*view, 1, RecordInfo{kTypeFree, 0, dataLength, 0});
  }
}

Status SetTableOrder(HeapView* view, ByteOrder current, ByteOrder wanted, uint64_t tableSize) {
  const uint16_t count = Get16(view->table, current);
  if (tableSize != uint64_t{count} * kRecordSize + kCountSize) return Corrupt();
  view->flags = (view->flags & ~kTableBigEndian) | (current == kBigEndian ? kTableBigEndian : 0);
  if (current == wanted) return ST_OK;
  PutLE16(Swap16(GetLE16(view->table)), view->table);
  for (uint32_t i = 1; i <= count; ++i) {
    uint8_t* r = Record(*view, static_cast<uint16_t>(i));
    const uint16_t type = Get16(r, current);
    PutLE16(Swap16(GetLE16(r)), r);
    if (IsInRecord(type)) continue;  // those 8 bytes are data, not numbers
    PutLE32(Swap32(GetLE32(r + 2)), r + 2);
    PutLE32(Swap32(GetLE32(r + 6)), r + 6);
  }
  view->flags ^= kTableBigEndian;
  return ST_OK;
}

Status ValidateTable(const HeapView& view, uint32_t dataLength) {
  if (!IsLittleEndian(view)) return ST_WRONG_STATE;
  const uint16_t count = RecordCount(view);
  if (count == 0) return dataLength == 0 ? ST_OK : Corrupt();

  // (offset << 32 | length) of every data block, sorted by offset: on the
  // stack for a table of the usual size, else in a block over-allocated so
  // the keys can sit on their natural alignment.
  uint64_t local[RecordIndex::kCapacity];
  uint64_t* keys = local;
  BlockOwner keysBlock;
  if (count > RecordIndex::kCapacity) {
    keysBlock.reset(BlockAlloc(count * uint32_t{sizeof(uint64_t)} + alignof(uint64_t)));
    if (!keysBlock) return ST_NO_MEMORY;
    void* raw = keysBlock.get();
    size_t space = count * sizeof(uint64_t) + alignof(uint64_t);
    keys = static_cast<uint64_t*>(std::align(alignof(uint64_t), count * sizeof(uint64_t), raw, space));
  }
  uint32_t blocks = 0;
  for (uint32_t i = 1; i <= count; ++i) {
    const uint8_t* r = Record(view, static_cast<uint16_t>(i));
    if (IsInRecord(GetLE16(r))) continue;
    const uint32_t length = GetLE32(r + 2);
    if (length == 0) continue;
    keys[blocks++] = (uint64_t{GetLE32(r + 6)} << 32) | length;
  }
  std::sort(keys, keys + blocks);

  uint64_t end = 0;
  for (uint32_t i = 0; i < blocks; ++i) {
    if ((keys[i] >> 32) != end) return Corrupt();
    end += keys[i] & 0xFFFFFFFFu;
    if (end > dataLength) return Corrupt();
  }
  return end == dataLength ? ST_OK : Corrupt();
}

}  // namespace qd::heap
