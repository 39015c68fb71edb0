// Record entry lists walked over a heap held in memory: each visited table is
// checked, converted to little-endian for the walk and back to the heap's own
// order on every return path; nested-heap entries recurse into their heap.
#pragma once

#include <cstdint>

#include "frame/byte_order.h"
#include "frame/memory_block.h"
#include "frame/status.h"
#include "qdparse.h"

namespace qd::heap {

enum class Delivery : uint8_t {
  kLocate,  // report where requested records lie; copy nothing
  kCopy,    // copy records out, converting byte order
};

// From a nested-heap entry to just past the terminator of its list.
const RecordEntry* SkipNested(const RecordEntry* entry);
RecordEntry* SkipNested(RecordEntry* entry);

// Reverses each whole 16-bit (kind 0x1000) or 32-bit (kind 0x1800) value of
// `bytes` at p; other kinds are left as they are.
void SwapValues(uint8_t* p, uint32_t bytes, uint16_t kind);

// Where the table of a heap lies: its offset and size (count and records),
// checked to end before the table offset. ST_CORRUPT otherwise.
Status LocateTable(const uint8_t* heap, uint32_t heapLength, ByteOrder order, uint32_t* offset,
                   uint32_t* size);

// Copies of records of unknown size go into `room` while they fit there,
// into a block of their own otherwise.
Status WalkRecords(uint8_t* heap, uint32_t heapLength, ByteOrder order, RecordEntry** cursor,
                   Delivery delivery, ValueRoom* room = nullptr);

}  // namespace qd::heap
