// The heap layout: a data area, then a table {u16 count, count x 10-byte
// records}, slack, and the table's offset in the heap's last 4 bytes. Record:
// {u16 type, u32 length, u32 offset}; records whose location bit 0x4000 is set
// hold their 8 data bytes in place of length and offset.
#pragma once

#include <cstdint>

#include "format/heap_records.h"

namespace qd::heap {

constexpr uint32_t kRecordSize = 10;
constexpr uint32_t kCountSize = 2;
constexpr uint32_t kTableOffsetSize = 4;
// The smallest heap: an empty table offset and count around nothing.
constexpr uint32_t kMinHeapLength = kCountSize + kTableOffsetSize;
constexpr uint32_t kInRecordDataSize = 8;

// Type word fields.
constexpr uint16_t kLocationMask = 0xC000;
constexpr uint16_t kInRecordBit = 0x4000;  // set in 0x4000 and 0xC000
constexpr uint16_t kKindMask = 0x3800;
constexpr uint16_t kMatchMask = 0x3FFF;  // kind + identifier: what lookups compare

// Data kinds.
constexpr uint16_t kKindBytes = 0x0000;
constexpr uint16_t kKindAscii = 0x0800;
constexpr uint16_t kKindU16 = 0x1000;
constexpr uint16_t kKindU32 = 0x1800;
constexpr uint16_t kKindStruct = 0x2000;
constexpr uint16_t kKindHeap = 0x2800;
constexpr uint16_t kKindHeapAlt = 0x3000;

constexpr uint16_t kTypeUnused = 0x0000;
constexpr uint16_t kTypeFree = 0x0001;

inline bool IsNestedHeap(uint16_t type) {
  const uint16_t kind = type & kKindMask;
  return kind == kKindHeap || kind == kKindHeapAlt;
}
inline bool IsInRecord(uint16_t type) { return (type & kInRecordBit) != 0; }

// Heap-file header: mark, header length, "HEAP", subtype, version, 8 bytes.
constexpr uint32_t kFileHeaderSize = 26;

}  // namespace qd::heap
