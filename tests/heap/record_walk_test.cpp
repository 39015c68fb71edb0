#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "frame/memory_block.h"
#include "frame/status.h"
#include "heap/walk_support.h"
#include "support/fault_sweep.h"

namespace qdtest {
namespace {

const char* OrderName(bool be) { return be ? "MM" : "II"; }

TEST(RecordWalk, LocatesRecordsThroughNestedListsAndSkipsAbsentHeaps) {
  for (bool be : {false, true}) {
    SCOPED_TRACE(OrderName(be));
    NestedHeap h(be);
    Bytes heap = h.bytes;
    uint8_t* base = heap.data();
    int keep = 0;  // what untouched entries point at
    const RecordEntry untouched = Entry(0x0805, 7, &keep, 0x5555);
    std::vector<RecordEntry> list = {
        Entry(0x0805, 1),                 // 0
        Entry(0x300A),                    // 1 -> A
        Entry(0x0810, 1),                 // 2
        Entry(0x5817, 1),                 // 3 location bits differ: still found
        Entry(0x2804),                    // 4 -> B
        Entry(0x102A, 1),                 // 5
        Entry(0x3004),                    // 6 -> C
        Entry(0x180E, 1),                 // 7
        Entry(0x2007, 0, &keep, 0x5555),  // 8 not requested
        End(),                            // 9
        Entry(0x1803, 1),                 // 10
        End(),                            // 11
        Entry(0x0999, 1, &keep, 0x5555),  // 12 absent
        Entry(0x2807, 5),                 // 13 absent heap: 14-18 are skipped
        untouched,                        // 14
        Entry(0x3004, 7, &keep, 0x5555),  // 15
        untouched,                        // 16
        End(),                            // 17
        End(),                            // 18
        Entry(0x0810, 1),                 // 19 the walk goes on inside A
        End(),                            // 20
        Entry(0x1810, 1),                 // 21
        End(),                            // 22
    };
    std::vector<RecordEntry> before = list;
    RecordEntry* cursor = list.data();
    ASSERT_EQ(_GetHeapRecordEntryPtr(Bare(base, static_cast<uint32_t>(heap.size()), be), &cursor) & 0xFFFF,
              0u);
    EXPECT_EQ(cursor, list.data() + list.size());
    EXPECT_EQ(heap, h.bytes) << "tables must be back in the heap's own order";

    struct Located {
      size_t entry;
      uint32_t at;
      uint32_t size;
    };
    const Located located[] = {
        {0, h.root.DataOffset(1), 13},
        {2, h.atA + h.a.DataOffset(1), 6},
        {3, h.atA + h.a.DataOffset(2), 8},
        {5, h.atB + h.b.DataOffset(1), 6},
        {7, h.atC + h.c.DataOffset(1), 4},
        {10, h.atB + h.b.DataOffset(3), 8},
        {19, h.atA + h.a.DataOffset(1), 6},
        {21, h.root.DataOffset(3), 8},
    };
    for (const Located& l : located) {
      SCOPED_TRACE(testing::Message() << "entry " << l.entry);
      EXPECT_EQ(list[l.entry].found, 1);
      EXPECT_EQ(PointerOf(list[l.entry]), base + l.at);
      EXPECT_EQ(list[l.entry].size, l.size);
    }
    EXPECT_EQ(0, std::memcmp(list[3].pointer, kNumber.data(), 8)) << "in-record data";
    for (size_t i : {1, 4, 6}) EXPECT_EQ(list[i].found, 1) << i;
    EXPECT_EQ(list[12].found, 0);
    EXPECT_EQ(list[13].found, 0);
    for (size_t i : {8, 14, 15, 16}) {
      EXPECT_EQ(0, std::memcmp(&list[i], &before[i], sizeof(RecordEntry))) << "entry " << i;
    }
    EXPECT_EQ(PointerOf(list[12]), &keep);
  }
}

// Each broken nested heap fails the walk; every table visited on the way,
// at any depth, is back in big-endian order afterwards.
TEST(RecordWalk, AFailureDeepDownLeavesTheWholeHeapAsItWas) {
  for (int depth : {1, 2, 3}) {
    SCOPED_TRACE(testing::Message() << "broken at depth " << depth);
    const NestedHeap h(true, [depth](int d, HeapBuilder& heap) {
      if (d != depth) return;
      if (d == 1) heap.OverrideLength(1, 5);             // a gap
      if (d == 2) heap.OverrideOffset(1, 1);             // does not start at 0
      if (d == 3) heap.OverrideTableOffset(0xFFFFFFF0);  // table out of the heap
    });
    const Bytes& original = h.bytes;
    Bytes heap = original;
    uint32_t scratch = 0;
    std::vector<RecordEntry> list = {Entry(0x0805, 1),  Entry(0x300A), Entry(0x2804),
                                     Entry(0x3004),     Entry(0x180E, 1, &scratch, 4),
                                     End(),             End(),         End(),
                                     Entry(0x1810, 1), End()};
    const HeapObject obj = Bare(heap.data(), static_cast<uint32_t>(heap.size()), true);
    RecordEntry* cursor = list.data();
    EXPECT_EQ(_GetHeapRecordEntryPtr(obj, &cursor) & 0xFFFF, uint32_t{qd::ST_CORRUPT});
    EXPECT_EQ(heap, original);
    cursor = list.data();
    EXPECT_EQ(qdParseHeapObject(obj, &cursor), QD_E_CORRUPT);
    EXPECT_EQ(heap, original);
  }
}

// Values arrive in the host's (little-endian) order whatever the heap's.
// Both walks check each heap's table, which allocates; a failure there is an
// error, a failure to allocate a copy for the caller is not.
// Swept here: buffer-only exports, whose lost copies are checked value by value.
TEST(RecordWalk, CopiesConvertedValuesOutOfNestedHeapsUnderAllocationFailures) {
  NestedHeap h(true);
  Bytes heap = h.bytes;
  const HeapObject obj = Bare(heap.data(), static_cast<uint32_t>(heap.size()), true);
  int copiesMissed = 0;
  SweepAllocationFailures(
      [&] {
        Bytes comment(13), number(8), value(4);
        void* values = nullptr;
        void* structure = nullptr;
        std::vector<RecordEntry> list = {
            Entry(0x0805, 0, comment.data(), 13), Entry(0x300A), Entry(0x1817, 0, number.data(), 8),
            Entry(0x2804),                        Entry(0x102A, 0, &values, 0),  // the library allocates
            Entry(0x3004),                        Entry(0x180E, 0, value.data(), 4),
            Entry(0x2007, 0, &structure, 0),  // structures are not allocated
            End(), End(), End(), End()};
        RecordEntry* cursor = list.data();
        const uint32_t result = qdParseHeapObject(obj, &cursor);
        EXPECT_EQ(heap, h.bytes);
        if (result == QD_OK) {
          EXPECT_EQ(cursor, list.data() + list.size());
          EXPECT_EQ(comment, kComment);
          EXPECT_EQ(number, (Bytes{0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55}));
          EXPECT_EQ(value, U32s({0x01020304}, false));
          EXPECT_EQ(list[4].size, 6u);
          EXPECT_EQ(structure, nullptr);
          EXPECT_EQ((std::vector<uint32_t>{list[7].found, list[7].size}), (std::vector<uint32_t>{1, 0}));
          if (values == nullptr) ++copiesMissed;
          if (values != nullptr) {
            EXPECT_EQ(Bytes(static_cast<uint8_t*>(values), static_cast<uint8_t*>(values) + qd::BlockLength(values)),
                      U16s({1, 0x0203, 0x0405}, false));
          }
        }
        ExtensionInfo release{static_cast<uint8_t*>(values), 6};
        EXPECT_EQ(qdParseFreeApp1Info(&release), QD_OK);
        return result;
      },
      {QD_E_NO_MEMORY});
  EXPECT_EQ(copiesMissed, 1);

  SweepAllocationFailures(
      [&] {
        std::vector<RecordEntry> list = {Entry(0x300A), Entry(0x2804), Entry(0x3004), Entry(0x180E, 1),
                                         End(),         End(),         End(),         End()};
        RecordEntry* cursor = list.data();
        const uint32_t status = _GetHeapRecordEntryPtr(obj, &cursor) & 0xFFFF;
        EXPECT_EQ(heap, h.bytes);
        return status;
      },
      {qd::ST_NO_MEMORY});
}

}  // namespace
}  // namespace qdtest
