// Shared pieces of the record-walk tests: entry lists, bare heap objects and a
// heap nested three deep.
#pragma once

#include <array>
#include <cstdint>

#include "qdparse.h"
#include "support/heap_builder.h"

namespace qdtest {

inline RecordEntry Entry(uint16_t type, uint16_t found = 0, void* pointer = nullptr,
                         uint32_t size = 0) {
  RecordEntry e{};
  e.type = type;
  e.found = found;
  e.pointer = pointer;
  e.size = size;
  return e;
}
inline RecordEntry End() { return RecordEntry{}; }
// The entry's pointer by value: the packed field may sit misaligned.
inline void* PointerOf(const RecordEntry& e) { return e.pointer; }

// A descriptor for a bare heap held by the caller (no block, no header).
inline HeapObject Bare(uint8_t* heap, uint32_t length, bool bigEndian) {
  HeapObject h{};
  h.heap = heap;
  h.heapLength = length;
  h.bigEndian = bigEndian ? 1 : 0;
  return h;
}

// root: 1 comment 0x0805, 2 heap 0x300A (A), 3 in-record 0x1810, 4 free, 5 unused
//   A:  1 owner 0x0810, 2 in-record 0x1817 (kind: 32-bit values), 3 heap 0x2804 (B)
//   B:  1 three 16-bit values 0x102A, 2 heap 0x3004 (C), 3 in-record 0x1803
//   C:  1 one 32-bit value 0x180E, 2 structure 0x2007, 3 free
struct NestedHeap {
  explicit NestedHeap(bool bigEndian);

  HeapBuilder c, b, a, root;
  Bytes bytes;
  // Where each heap starts within `bytes`.
  uint32_t atA = 0, atB = 0, atC = 0;
};

inline const Bytes kComment = {'r', 'o', 'o', 't', ' ', 'c', 'o', 'm', 'm', 'e', 'n', 't', 0};
inline const Bytes kOwner = {'o', 'w', 'n', 'e', 'r', 0};
inline const Bytes kStruct = {'s', 't', 'r', 'u', 'c', 't'};
constexpr std::array<uint8_t, 8> kNumber = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};

inline NestedHeap::NestedHeap(bool bigEndian)
    : c(bigEndian), b(bigEndian), a(bigEndian), root(bigEndian) {
  c.Data(0x180E, U32s({0x01020304}, bigEndian));
  c.Data(0x2007, kStruct);
  c.Free(2);
  b.Data(0x102A, U16s({0x0001, 0x0203, 0x0405}, bigEndian));
  b.Nested(0x3004, c);
  b.InRecord(0x1803, {9, 8, 7, 6, 5, 4, 3, 2});
  a.Data(0x0810, kOwner);
  a.InRecord(0x1817, kNumber);
  a.Nested(0x2804, b);
  root.Data(0x0805, kComment);
  root.Nested(0x300A, a);
  root.InRecord(0x1810, {1, 1, 2, 2, 3, 3, 4, 4});
  root.Free(4);
  root.Unused();
  bytes = root.Build();
  atA = root.DataOffset(2);
  atB = atA + a.DataOffset(3);
  atC = atB + b.DataOffset(2);
}

}  // namespace qdtest
