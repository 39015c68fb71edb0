#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "heap/heap_table.h"
#include "support/heap_builder.h"

namespace qd::heap {
namespace {

using qdtest::Bytes;
using qdtest::HeapBuilder;
using Raw = std::array<uint32_t, 3>;

// A built heap and a view of its table, which must be little-endian.
struct Table {
  explicit Table(const HeapBuilder& b) : bytes(b.Build()), view{bytes.data() + b.DataLength(), b.DataLength(), 0} {}
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;

  // Record i as stored: type word, bytes 2-5, bytes 6-9.
  Raw At(uint16_t i) const {
    const uint8_t* r = view.table + 2 + 10 * (i - 1);
    return {GetLE16(r), GetLE32(r + 2), GetLE32(r + 6)};
  }

  Bytes bytes;
  HeapView view;
};

constexpr std::array<uint8_t, 8> kEight = {1, 2, 3, 4, 5, 6, 7, 8};

// Lookups and the byte-order round trip are exercised by every record walk;
// what follows are free-space allocation and the tiling invariant.
TEST(HeapTable, AllocationSplitsTheLargestFreeBlockOrChangesNothing) {
  HeapBuilder b;
  b.Data(0x0805, {1, 2, 3, 4});
  b.Free(10);
  b.Data(0x0806, Bytes(12));  // longer, but not free
  b.Free(10);
  b.Unused();
  b.Unused();
  Table t(b);
  uint16_t index = 0;
  RecordInfo info{};
  ASSERT_EQ(FindLargestFree(t.view, &index, &info), ST_OK);
  EXPECT_EQ(index, 4);
  ASSERT_EQ(AllocateFromFree(t.view, 3, &index, &info), ST_OK);
  EXPECT_EQ((Raw{index, info.length, info.offset}), (Raw{4, 3, 26}));
  EXPECT_EQ(t.At(4), (Raw{1, 3, 26}));
  EXPECT_EQ(t.At(5), (Raw{1, 7, 29}));
  EXPECT_EQ(t.At(6), (Raw{0, 0, 0}));
  EXPECT_EQ(ValidateTable(t.view, t.view.dataLength), ST_OK) << "the data area must stay tiled";
  // The largest is now record 2; taking all of it uses no slot.
  const Bytes before = t.bytes;
  ASSERT_EQ(AllocateFromFree(t.view, 10, &index, &info), ST_OK);
  EXPECT_EQ((Raw{index, info.type, info.offset}), (Raw{2, kTypeFree, 4}));
  EXPECT_EQ(t.bytes, before);

  // Failures change nothing.
  HeapBuilder none, noSlot, inRecord;
  none.Data(0x0805, {1});
  noSlot.Free(10);
  inRecord.InRecord(0x0001, kEight);
  inRecord.Unused();
  const struct {
    const HeapBuilder& heap;
    uint32_t size;
    Status expected;
  } failures[] = {{none, 1, ST_NOT_FOUND},
                  {noSlot, 3, ST_SIZE_MISMATCH},  // no unused slot for the remainder
                  {noSlot, 11, ST_SIZE_MISMATCH},
                  {inRecord, 4, ST_WRONG_STATE}};
  for (const auto& c : failures) {
    Table f(c.heap);
    const Bytes unchanged = f.bytes;
    index = 77;
    EXPECT_EQ(AllocateFromFree(f.view, c.size, &index, &info), c.expected);
    EXPECT_EQ(f.bytes, unchanged);
    EXPECT_EQ(index, 77);
  }
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
  const struct {
    const char* name;
    uint16_t index;
    uint32_t length, offset;
    Status expected;
  } cases[] = {
      {"valid", 2, 5, 3, ST_OK},
      {"one-byte overlap", 2, 6, 2, ST_CORRUPT},
      {"one-byte gap", 2, 4, 4, ST_CORRUPT},
      {"ends one byte before T", 2, 4, 3, ST_CORRUPT},
      {"runs one byte past T", 2, 6, 3, ST_CORRUPT},
      {"offset + length wraps 32 bits", 2, 0xFFFFFFFD, 3, ST_CORRUPT},
      {"zero length, offset far away", 3, 0, 0xFFFFFFFF, ST_OK},
      {"first block does not start at 0", 1, 2, 1, ST_CORRUPT},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HeapBuilder b = base();
    b.OverrideLength(c.index, c.length).OverrideOffset(c.index, c.offset);
    Table t(b);
    EXPECT_EQ(ValidateTable(t.view, 8), c.expected);
  }
  HeapBuilder swapped = base();  // table order does not matter: B at [0, 5), A at [5, 8)
  swapped.OverrideOffset(1, 5).OverrideOffset(2, 0);
  EXPECT_EQ(ValidateTable(Table(swapped).view, 8), ST_OK);
  // Only unused slots and in-record data: nothing covers a nonempty data area.
  Bytes empty = {0, 0};
  EXPECT_EQ(ValidateTable(HeapView{empty.data(), 0, 0}, 0), ST_OK);
  EXPECT_EQ(ValidateTable(HeapView{empty.data(), 0, 0}, 4), ST_CORRUPT);
  HeapBuilder b;
  b.Unused();
  b.InRecord(0x1817, kEight);
  Table t(b);
  EXPECT_EQ(ValidateTable(t.view, 0), ST_OK);
  EXPECT_EQ(ValidateTable(t.view, 1), ST_CORRUPT);
}

}  // namespace
}  // namespace qd::heap
