// A heap nested three deep, in either byte order: a seed of the heap-walk
// fuzzer.
#pragma once

#include "support/heap_builder.h"

namespace qdtest {

// root: 1 comment 0x0805, 2 heap 0x300A (A), 3 in-record 0x1810, 4 free, 5 unused
//   A:  1 owner 0x0810, 2 in-record 0x1817 (kind: 32-bit values), 3 heap 0x2804 (B)
//   B:  1 three 16-bit values 0x102A, 2 heap 0x3004 (C), 3 in-record 0x1803
//   C:  1 one 32-bit value 0x180E, 2 structure 0x2007, 3 free
struct NestedHeap {
  explicit NestedHeap(bool bigEndian);
  Bytes bytes;
};

inline NestedHeap::NestedHeap(bool be) {
  HeapBuilder c(be), b(be), a(be), root(be);
  c.Data(0x180E, U32s({0x01020304}, be));
  c.Data(0x2007, {'s', 't', 'r', 'u', 'c', 't'});
  c.Free(2);
  b.Data(0x102A, U16s({0x0001, 0x0203, 0x0405}, be));
  b.Nested(0x3004, c);
  b.InRecord(0x1803, {9, 8, 7, 6, 5, 4, 3, 2});
  a.Data(0x0810, {'o', 'w', 'n', 'e', 'r', 0});
  a.InRecord(0x1817, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88});
  a.Nested(0x2804, b);
  root.Data(0x0805, {'r', 'o', 'o', 't', ' ', 'c', 'o', 'm', 'm', 'e', 'n', 't', 0});
  root.Nested(0x300A, a);
  root.InRecord(0x1810, {1, 1, 2, 2, 3, 3, 4, 4});
  root.Free(4);
  root.Unused();
  bytes = root.Build();
}

}  // namespace qdtest
