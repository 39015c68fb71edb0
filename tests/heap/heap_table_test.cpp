#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "heap/heap_table.h"
#include "support/fault_sweep.h"
#include "support/heap_builder.h"

namespace qd::heap {
namespace {

using qdtest::Bytes;
using qdtest::HeapBuilder;

// A built heap and a view of its table, which must be little-endian.
struct Table {
  explicit Table(const HeapBuilder& b)
      : bytes(b.Build()), view{bytes.data() + b.DataLength(), b.DataLength(), 0} {}
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;

  // Record i as stored: type word, bytes 2-5, bytes 6-9.
  std::array<uint32_t, 3> Raw(uint16_t i) const {
    const uint8_t* r = view.table + 2 + 10 * (i - 1);
    return {GetLE16(r), GetLE32(r + 2), GetLE32(r + 6)};
  }

  Bytes bytes;
  HeapView view;
};

constexpr std::array<uint8_t, 8> kEight = {1, 2, 3, 4, 5, 6, 7, 8};

TEST(HeapTable, LookupsMatchKindAndIdentifierButNotLocation) {
  HeapBuilder b;
  b.Data(0x0805, {'a', 'b', 'c'});
  b.InRecord(0x1817, kEight);
  b.Data(0x8810, {9, 9});  // location 0x8000: still the data area
  b.Data(0x0805, {'d'});
  Table t(b);

  uint16_t index = 0;
  RecordInfo info{};
  const uint16_t comment[] = {0xC805};
  ASSERT_EQ(FindRecord(t.view, 1, comment, 1, &index, &info), ST_OK);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(info.type, 0x0805);
  EXPECT_EQ(info.location, 0);
  EXPECT_EQ(info.length, 3u);
  EXPECT_EQ(info.offset, 0u);
  ASSERT_EQ(FindRecord(t.view, 2, comment, 1, &index, &info), ST_OK);
  EXPECT_EQ(index, 4);
  EXPECT_EQ(info.offset, 5u);

  const uint16_t owner[] = {0x1234, 0x0810};
  ASSERT_EQ(FindRecord(t.view, 1, owner, 2, &index, &info), ST_OK);
  EXPECT_EQ(index, 3);
  EXPECT_EQ(info.location, 0x8000);

  // In-record data: length 8 at T + 10 * i - 6, i.e. at record bytes 2-9.
  const uint16_t number[] = {0x1817};
  ASSERT_EQ(FindRecord(t.view, 1, number, 1, &index, &info), ST_OK);
  EXPECT_EQ(index, 2);
  EXPECT_EQ(info.location, 0x4000);
  EXPECT_EQ(info.length, 8u);
  EXPECT_EQ(info.offset, b.DataLength() + 14);
  EXPECT_EQ(0, std::memcmp(t.bytes.data() + info.offset, kEight.data(), 8));
  RecordInfo again{};
  ASSERT_EQ(GetRecordInfo(t.view, 2, &again), ST_OK);
  EXPECT_EQ(std::memcmp(&again, &info, sizeof info), 0);

  const uint16_t absent[] = {0x0806};
  EXPECT_EQ(FindRecord(t.view, 1, absent, 1, &index, &info), ST_NOT_FOUND);
  EXPECT_EQ(FindRecord(t.view, 5, comment, 1, &index, &info), ST_NOT_FOUND);
  EXPECT_EQ(GetRecordInfo(t.view, 0, &info), ST_BAD_ARGUMENT);
  EXPECT_EQ(GetRecordInfo(t.view, 5, &info), ST_BAD_ARGUMENT);
}

TEST(HeapTable, SetRecordInfoKeepsInRecordDataAndWritesFreeAndUnusedBare) {
  HeapBuilder b;
  b.InRecord(0x1817, kEight);
  b.Data(0x0805, {1, 2, 3});
  b.Data(0x0806, {4});
  b.Data(0x0807, {5});
  Table t(b);

  ASSERT_EQ(SetRecordInfo(t.view, 1, {0x1818, 0x4000, 99, 99}), ST_OK);
  EXPECT_EQ(t.Raw(1)[0], 0x5818u);
  EXPECT_EQ(0, std::memcmp(t.view.table + 4, kEight.data(), 8)) << "in-record data changed";

  ASSERT_EQ(SetRecordInfo(t.view, 2, {0x0809, 0x8000, 5, 7}), ST_OK);
  EXPECT_EQ(t.Raw(2), (std::array<uint32_t, 3>{0x8809, 5, 7}));

  // Free space and unused slots never carry location bits...
  ASSERT_EQ(SetRecordInfo(t.view, 3, {0x0001, 0x8000, 4, 2}), ST_OK);
  EXPECT_EQ(t.Raw(3), (std::array<uint32_t, 3>{0x0001, 4, 2}));
  // ...and asking for them stored in-record clears the slot.
  ASSERT_EQ(SetRecordInfo(t.view, 4, {0x0001, 0x4000, 4, 2}), ST_OK);
  EXPECT_EQ(t.Raw(4), (std::array<uint32_t, 3>{0, 0, 0}));
  ASSERT_EQ(SetRecordInfo(t.view, 1, {0x0000, 0xC000, 0, 0}), ST_OK);
  EXPECT_EQ(t.Raw(1), (std::array<uint32_t, 3>{0, 0, 0}));

  EXPECT_EQ(SetRecordInfo(t.view, 5, {0x0805, 0, 1, 1}), ST_BAD_ARGUMENT);
}

TEST(HeapTable, LargestFreeRecordIsTheLaterOneOnTies) {
  HeapBuilder b;
  b.Free(4);
  b.Data(0x0805, Bytes(9));  // longer, but not free
  b.Free(6);
  b.Free(6);
  b.Free(2);
  Table t(b);
  uint16_t index = 0;
  RecordInfo info{};
  ASSERT_EQ(FindLargestFree(t.view, &index, &info), ST_OK);
  EXPECT_EQ(index, 4);
  EXPECT_EQ(info.length, 6u);
  EXPECT_EQ(info.offset, 19u);

  HeapBuilder none;
  none.Data(0x0805, {1});
  none.Unused();
  Table n(none);
  EXPECT_EQ(FindLargestFree(n.view, &index, &info), ST_NOT_FOUND);
}

TEST(HeapTable, AllocationSplitsTheLargestFreeBlockIntoTheFirstUnusedSlot) {
  HeapBuilder b;
  b.Data(0x0805, {1, 2, 3, 4});
  b.Free(2);
  b.Free(10);
  b.Unused();
  b.Unused();
  Table t(b);
  uint16_t index = 0;
  RecordInfo info{};
  ASSERT_EQ(AllocateFromFree(t.view, 3, &index, &info), ST_OK);
  EXPECT_EQ(index, 3);
  EXPECT_EQ(info.length, 3u);
  EXPECT_EQ(info.offset, 6u);
  EXPECT_EQ(t.Raw(3), (std::array<uint32_t, 3>{1, 3, 6}));
  EXPECT_EQ(t.Raw(4), (std::array<uint32_t, 3>{1, 7, 9}));
  EXPECT_EQ(t.Raw(5), (std::array<uint32_t, 3>{0, 0, 0}));
  EXPECT_EQ(ValidateTable(t.view, t.view.dataLength), ST_OK) << "the data area must stay tiled";

  // The largest is now the 7-byte remainder; taking all of it uses no slot.
  const Bytes before = t.bytes;
  ASSERT_EQ(AllocateFromFree(t.view, 7, &index, &info), ST_OK);
  EXPECT_EQ(index, 4);
  EXPECT_EQ(info.type, kTypeFree);
  EXPECT_EQ(info.offset, 9u);
  EXPECT_EQ(t.bytes, before);
}

TEST(HeapTable, AllocationFailuresChangeNothing) {
  struct Case {
    const char* name;
    HeapBuilder heap;
    uint32_t size;
    Status expected;
  };
  std::vector<Case> cases;
  {
    HeapBuilder noSlot;
    noSlot.Free(10);
    noSlot.Data(0x0805, {1});
    cases.push_back({"no unused slot for the remainder", noSlot, 3, ST_SIZE_MISMATCH});
  }
  {
    HeapBuilder small;
    small.Free(4);
    small.Unused();
    cases.push_back({"largest free block too short", small, 5, ST_SIZE_MISMATCH});
  }
  {
    HeapBuilder inRecord;
    inRecord.InRecord(0x0001, kEight);
    inRecord.Unused();
    cases.push_back({"free record held in-record", inRecord, 4, ST_WRONG_STATE});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Table t(c.heap);
    const Bytes before = t.bytes;
    uint16_t index = 77;
    RecordInfo info{};
    EXPECT_EQ(AllocateFromFree(t.view, c.size, &index, &info), c.expected);
    EXPECT_EQ(t.bytes, before);
    EXPECT_EQ(index, 77);
  }
}

TEST(HeapTable, InitTableWritesOneFreeRecordAndClearsTheRest) {
  Bytes table(32, 0xA5);
  HeapView view{};
  InitTable(table.data(), 3, 100, &view);
  const Bytes expected = {3, 0,  1, 0, 100, 0, 0, 0, 0, 0, 0, 0,  0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                          0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(table, expected);
  EXPECT_EQ(view.table, table.data());
  EXPECT_EQ(view.dataLength, 100u);
  EXPECT_EQ(view.flags, 0u);
  EXPECT_EQ(ValidateTable(view, 100), ST_OK);

  Bytes empty(22, 0xA5);
  InitTable(empty.data(), 2, 0, &view);
  EXPECT_EQ(empty, (Bytes{2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(ValidateTable(view, 0), ST_OK);

  Bytes none(2, 0xA5);  // exact size: nothing may be written past the count
  InitTable(none.data(), 0, 0, &view);
  EXPECT_EQ(none, (Bytes{0, 0}));
}

TEST(HeapTable, TableOrderChecksTheSizeAndRoundTripsExactly) {
  HeapBuilder b(true);
  b.Data(0x1001, {0x12, 0x34, 0x56, 0x78});
  b.InRecord(0x1817, kEight);
  b.Free(3);
  b.Unused();
  Bytes bytes = b.Build();
  const Bytes original = bytes;
  HeapView view{bytes.data() + b.DataLength(), b.DataLength(), 0};
  const uint32_t size = 4 * 10 + 2;

  EXPECT_EQ(SetTableOrder(&view, kBigEndian, kLittleEndian, size + 1), ST_CORRUPT);
  EXPECT_EQ(SetTableOrder(&view, kBigEndian, kLittleEndian, size - 10), ST_CORRUPT);
  EXPECT_EQ(bytes, original);

  ASSERT_EQ(SetTableOrder(&view, kBigEndian, kLittleEndian, size), ST_OK);
  EXPECT_EQ(view.flags & kTableBigEndian, 0u);
  EXPECT_EQ(GetLE16(view.table), 4);
  RecordInfo info{};
  ASSERT_EQ(GetRecordInfo(view, 3, &info), ST_OK);
  EXPECT_EQ(info.type, kTypeFree);
  EXPECT_EQ(info.length, 3u);
  EXPECT_EQ(info.offset, 4u);
  ASSERT_EQ(GetRecordInfo(view, 2, &info), ST_OK);
  EXPECT_EQ(info.location, 0x4000);
  EXPECT_EQ(0, std::memcmp(bytes.data() + info.offset, kEight.data(), 8)) << "in-record data swapped";
  EXPECT_EQ(0, std::memcmp(bytes.data(), original.data(), b.DataLength())) << "data area touched";

  // Work is refused while the table is big-endian.
  HeapView stale{view.table, view.dataLength, kTableBigEndian};
  EXPECT_EQ(GetRecordInfo(stale, 1, &info), ST_WRONG_STATE);

  ASSERT_EQ(SetTableOrder(&view, kLittleEndian, kBigEndian, size), ST_OK);
  EXPECT_EQ(view.flags & kTableBigEndian, kTableBigEndian);
  EXPECT_EQ(bytes, original);
}

// The tiling check, one broken field at a time. Base: A = [0, 3), B = [3, 8), T = 8.
TEST(HeapTable, DataBlocksMustTileTheDataAreaExactly) {
  const auto base = [] {
    HeapBuilder b;
    b.Data(0x0805, {1, 2, 3});
    b.Data(0x0806, {4, 5, 6, 7, 8});
    b.InRecord(0x1817, {3, 0, 0, 0, 1, 0, 0, 0});  // reads as length 3 at 1: ignored
    b.Data(0x0807, {});
    b.OverrideOffset(4, 1);  // zero length: ignored wherever it points
    b.Unused();
    return b;
  };
  {
    Table t(base());
    EXPECT_EQ(ValidateTable(t.view, 8), ST_OK);
  }
  struct Case {
    const char* name;
    uint16_t index;
    uint32_t length;
    uint32_t offset;
    Status expected;
  };
  const Case cases[] = {
      {"one-byte overlap", 2, 6, 2, ST_CORRUPT},
      {"one-byte gap", 2, 4, 4, ST_CORRUPT},
      {"ends one byte before T", 2, 4, 3, ST_CORRUPT},
      {"runs one byte past T", 2, 6, 3, ST_CORRUPT},
      {"offset + length wraps 32 bits", 2, 0xFFFFFFFD, 3, ST_CORRUPT},
      {"zero length, offset far away", 3, 0, 0xFFFFFFFF, ST_OK},
      {"first block does not start at 0", 1, 2, 1, ST_CORRUPT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HeapBuilder b = base();
    b.OverrideLength(c.index, c.length).OverrideOffset(c.index, c.offset);
    Table t(b);
    EXPECT_EQ(ValidateTable(t.view, 8), c.expected);
  }
  // Table order does not matter: B first at [0, 5), A at [5, 8).
  HeapBuilder swapped = base();
  swapped.OverrideOffset(1, 5).OverrideOffset(2, 0);
  Table t(swapped);
  EXPECT_EQ(ValidateTable(t.view, 8), ST_OK);
}

TEST(HeapTable, AnEmptyTableIsValidOnlyWithAnEmptyDataArea) {
  Bytes table = {0, 0};
  const HeapView view{table.data(), 0, 0};
  EXPECT_EQ(ValidateTable(view, 0), ST_OK);
  EXPECT_EQ(ValidateTable(view, 4), ST_CORRUPT);

  // Only unused slots and in-record data: nothing covers a nonempty data area.
  HeapBuilder b;
  b.Unused();
  b.InRecord(0x1817, kEight);
  Table t(b);
  EXPECT_EQ(ValidateTable(t.view, 0), ST_OK);
  EXPECT_EQ(ValidateTable(t.view, 1), ST_CORRUPT);
}

TEST(HeapTable, ValidationReportsAllocationFailure) {
  HeapBuilder b;
  b.Data(0x0805, {1, 2});
  Table t(b);
  qdtest::SweepAllocationFailures([&] { return uint32_t{ValidateTable(t.view, 2)}; },
                                  {ST_NO_MEMORY});
}

}  // namespace
}  // namespace qd::heap
