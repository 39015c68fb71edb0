// Record entry lists walked over a heap held in memory: each visited table is
// checked, converted to little-endian for the walk and back to the heap's own
// order on every return path; nested-heap entries recurse into their heap.
#pragma once

#include <cstdint>

#include "frame/byte_order.h"
#include "frame/status.h"
#include "qdparse.h"

namespace qd::heap {

enum class Delivery : uint8_t {
  kLocate,  // report where requested records lie; copy nothing
  kCopy,    // copy records out, converting byte order
};

Status WalkRecords(uint8_t* heap, uint32_t heapLength, ByteOrder order, RecordEntry** cursor,
                   Delivery delivery);

}  // namespace qd::heap
