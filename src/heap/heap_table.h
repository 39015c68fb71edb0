// Heap tables: lookups, record updates, a fresh table, the byte-order
// conversion and the tiling check. All work is done on tables in
// little-endian form; they are converted back before a heap is written or
// handed back.
#pragma once

#include <cstdint>

#include "frame/byte_order.h"
#include "frame/key_index.h"
#include "frame/status.h"
#include "format/heap_format.h"

namespace qd::heap {

// Bit 0 of HeapView::flags: the table is currently big-endian.
constexpr uint32_t kTableBigEndian = 1;

// One heap being read or built: its table (count + records) and the length T
// of its data area. The table holds count * 10 + 2 bytes.
struct HeapView {
  uint8_t* table;
  uint32_t dataLength;
  uint32_t flags;
};

// A record as the library sees it. For data-in-record records length is 8 and
// offset is where record bytes 2-9 lie within the heap.
struct RecordInfo {
  uint16_t type;      // kind + identifier (type & 0x3FFF)
  uint16_t location;  // type & 0xC000
  uint32_t length;
  uint32_t offset;
};

uint16_t RecordCount(const HeapView& view);

// First record in [first, count] whose kind + identifier matches any of
// `types`. ST_NOT_FOUND when there is none.
Status FindRecord(const HeapView& view, uint16_t first, const uint16_t* types, uint16_t typeCount,
                  uint16_t* index, RecordInfo* info);
// FindRecord from the first record, for a table asked many times over: the
// kinds + identifiers are sorted once (by type, then index, so the first
// record of a type answers) and each lookup bisects. A table too large for
// the index is scanned. The table must not change while the index is used.
class RecordIndex {
 public:
  static constexpr uint32_t kCapacity = KeyIndex::kCapacity;
  explicit RecordIndex(const HeapView& view);
  RecordIndex(const RecordIndex&) = delete;
  RecordIndex& operator=(const RecordIndex&) = delete;
  Status Find(uint16_t type, uint16_t* index, RecordInfo* info) const;

 private:
  const HeapView& view_;
  bool indexed_ = false;
  KeyIndex types_;  // position: index - 1
};

Status GetRecordInfo(const HeapView& view, uint16_t index, RecordInfo* info);
Status SetRecordInfo(const HeapView& view, uint16_t index, const RecordInfo& info);
// A fresh little-endian table of `count` slots: one free record spanning the
// data area (an unused one when it is empty), the others unused.
void InitTable(uint8_t* table, uint16_t count, uint32_t dataLength, HeapView* view);
// Converts the table between orders after checking its size against its
// count. Data held inside records is left as it is.
Status SetTableOrder(HeapView* view, ByteOrder current, ByteOrder wanted, uint64_t tableSize);
// The heap invariant: the data blocks tile [0, dataLength) exactly.
Status ValidateTable(const HeapView& view, uint32_t dataLength);

}  // namespace qd::heap
