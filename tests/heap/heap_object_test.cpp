#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "frame/memory_block.h"
#include "frame/status.h"
#include "heap/heap_object.h"
#include "heap/walk_support.h"
#include "support/fault_sweep.h"

namespace qdtest {
namespace {

// Copies one record of a single-level heap into the given entry.
uint32_t CopyOne(Bytes& heap, bool be, RecordEntry* entry) {
  RecordEntry list[] = {*entry, End()};
  RecordEntry* cursor = list;
  const uint32_t result = qdParseHeapObject(Bare(heap.data(), static_cast<uint32_t>(heap.size()), be), &cursor);
  *entry = list[0];
  return result;
}

TEST(HeapObjectCopy, LongTextIsCutWithAMarkerWhenThereIsRoomForIt) {
  Bytes text(40);
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<uint8_t>('A' + i % 26);
  HeapBuilder b(true);
  b.Data(0x0815, text);
  Bytes heap = b.Build();
  struct Case {
    uint32_t size;
    uint32_t delivered;
    bool marker;
  };
  for (const Case c : {Case{16, 16, true}, Case{4, 4, true}, Case{3, 3, false}, Case{40, 40, false},
                       Case{50, 40, false}}) {
    SCOPED_TRACE(testing::Message() << "buffer of " << c.size);
    Bytes out(c.size, 0xCC);
    RecordEntry e = Entry(0x0815, 0, out.data(), c.size);
    ASSERT_EQ(CopyOne(heap, true, &e), QD_OK);
    EXPECT_EQ(e.found, 1);
    EXPECT_EQ(e.size, c.delivered);
    const uint32_t plain = c.marker ? c.size - 4 : c.delivered;
    EXPECT_EQ(0, std::memcmp(out.data(), text.data(), plain));
    if (c.marker) {
      EXPECT_EQ(0, std::memcmp(out.data() + plain, "...", 4));
    }
    for (size_t i = c.delivered; i < out.size(); ++i) EXPECT_EQ(out[i], 0xCC) << "byte " << i;
  }
}

TEST(HeapObjectCopy, PartialValuesAreCopiedButNotSwapped) {
  HeapBuilder b(true);
  b.Data(0x1001, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06});
  b.Data(0x1802, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06});
  Bytes heap = b.Build();
  Bytes out(5);
  RecordEntry e = Entry(0x1001, 0, out.data(), 5);
  ASSERT_EQ(CopyOne(heap, true, &e), QD_OK);
  EXPECT_EQ(e.size, 5u);
  EXPECT_EQ(out, (Bytes{0x02, 0x01, 0x04, 0x03, 0x05}));
  Bytes out32(6);
  e = Entry(0x1802, 0, out32.data(), 6);
  ASSERT_EQ(CopyOne(heap, true, &e), QD_OK);
  EXPECT_EQ(out32, (Bytes{0x04, 0x03, 0x02, 0x01, 0x05, 0x06}));
}

TEST(HeapObjectCopy, SizeZeroAllocatesForPlainKindsOnly) {
  for (bool be : {false, true}) {
    SCOPED_TRACE(be ? "MM" : "II");
    const Bytes data = {1, 2, 3, 4, 5, 6, 7, 8};
    const Bytes swapped16 = be ? Bytes{2, 1, 4, 3, 6, 5, 8, 7} : data;
    const Bytes swapped32 = be ? Bytes{4, 3, 2, 1, 8, 7, 6, 5} : data;
    HeapBuilder b(be);
    b.Data(0x0007, data);
    b.Data(0x0807, data);
    b.Data(0x1007, data);
    b.Data(0x1807, data);
    b.Data(0x2007, data);
    b.Data(0x0008, Bytes(0x10000));  // too long for a copy of its own
    Bytes heap = b.Build();
    const int64_t live = LiveBlocks();

    struct Case {
      uint16_t type;
      const Bytes* expected;  // null: nothing allocated
      uint32_t size;
    };
    for (const Case& c : {Case{0x0007, &data, 8}, Case{0x0807, &data, 8}, Case{0x1007, &swapped16, 8},
                          Case{0x1807, &swapped32, 8}, Case{0x2007, nullptr, 0},
                          Case{0x0008, nullptr, 0x10000}}) {
      SCOPED_TRACE(testing::Message() << std::hex << c.type);
      void* block = nullptr;
      RecordEntry e = Entry(c.type, 0, &block, 0);
      ASSERT_EQ(CopyOne(heap, be, &e), QD_OK);
      EXPECT_EQ(e.found, 1);
      EXPECT_EQ(e.size, c.size);
      if (c.expected == nullptr) {
        EXPECT_EQ(block, nullptr);
        continue;
      }
      ASSERT_EQ(qd::BlockLength(block), 8u);
      EXPECT_EQ(0, std::memcmp(block, c.expected->data(), 8));
      EXPECT_EQ(qd::BlockFree(block), qd::ST_OK);
    }
    EXPECT_EQ(LiveBlocks(), live);

    // Size 0 and no pointer: found, nothing delivered.
    RecordEntry e = Entry(0x0007, 0, nullptr, 0);
    ASSERT_EQ(CopyOne(heap, be, &e), QD_OK);
    EXPECT_EQ(e.found, 1);
    EXPECT_EQ(e.size, 0u);
  }
}

TEST(HeapObjectLocate, UnrequestedAndEmptyRecordsReportNothing) {
  HeapBuilder b;
  b.Data(0x0805, {1, 2});
  b.Data(0x0806, {});
  Bytes heap = b.Build();
  int keep = 0;
  RecordEntry list[] = {Entry(0x0805, 0, &keep, 9), Entry(0x0806, 1, &keep, 9), End()};
  RecordEntry* cursor = list;
  ASSERT_EQ(_GetHeapRecordEntryPtr(Bare(heap.data(), static_cast<uint32_t>(heap.size()), false), &cursor) &
                0xFFFF,
            0u);
  EXPECT_EQ(list[0].found, 0);
  EXPECT_EQ(PointerOf(list[0]), &keep);
  EXPECT_EQ(list[0].size, 9u);
  EXPECT_EQ(list[1].found, 0) << "a zero-length record is not reported as found";
  EXPECT_EQ(list[1].size, 0u);
}

// A hostile heap must give its status without reading outside the bytes it
// was given: every fixture lives in a buffer of exactly its own size.
void ExpectCorrupt(const Bytes& original, bool be) {
  Bytes heap = original;
  const HeapObject obj = Bare(heap.data(), static_cast<uint32_t>(heap.size()), be);
  int keep = 0;
  RecordEntry list[] = {Entry(0x0805, 1, &keep, 1), Entry(0x2804), Entry(0x0806, 1), End(), End()};
  RecordEntry* cursor = list;
  EXPECT_EQ(_GetHeapRecordEntryPtr(obj, &cursor) & 0xFFFF, uint32_t{qd::ST_CORRUPT});
  EXPECT_EQ(heap, original);
  cursor = list;
  EXPECT_EQ(qdParseHeapObject(obj, &cursor), QD_E_CORRUPT);
  EXPECT_EQ(heap, original);
}

TEST(HeapObjectHostile, ShortHeapsAreCorrupt) {
  for (uint32_t n = 0; n < 6; ++n) {
    SCOPED_TRACE(testing::Message() << n << " bytes");
    std::unique_ptr<uint8_t[]> heap(new uint8_t[n]);
    std::memset(heap.get(), 0, n);
    RecordEntry list[] = {Entry(0x0805, 1), End()};
    RecordEntry* cursor = list;
    EXPECT_EQ(qdParseHeapObject(Bare(heap.get(), n, false), &cursor), QD_E_CORRUPT);
    cursor = list;
    EXPECT_EQ(_GetHeapRecordEntryPtr(Bare(heap.get(), n, true), &cursor) & 0xFFFF, uint32_t{qd::ST_CORRUPT});
  }
  // Six bytes hold an empty heap: table offset 0, no records.
  Bytes empty(6, 0);
  RecordEntry list[] = {Entry(0x0805, 1), End()};
  RecordEntry* cursor = list;
  EXPECT_EQ(qdParseHeapObject(Bare(empty.data(), 6, true), &cursor), QD_OK);
  EXPECT_EQ(list[0].found, 0);
}

TEST(HeapObjectHostile, TableOffsetsCountsAndRangesOutOfBounds) {
  for (bool be : {false, true}) {
    SCOPED_TRACE(be ? "MM" : "II");
    // Valid: A = [0, 4), B = [4, 8), table at 8, no slack; 34 bytes.
    const auto base = [be] {
      HeapBuilder b(be);
      b.Data(0x0805, {1, 2, 3, 4});
      b.Data(0x0806, {5, 6, 7, 8});
      return b;
    };
    const uint32_t size = base().Size();
    struct Case {
      const char* name;
      std::function<void(HeapBuilder&)> damage;
    };
    const Case cases[] = {
        {"table offset L - 5", [&](HeapBuilder& b) { b.OverrideTableOffset(size - 5); }},
        {"table offset 2^32 - 6", [](HeapBuilder& b) { b.OverrideTableOffset(0xFFFFFFFA); }},
        {"table offset 2^32 - 1", [](HeapBuilder& b) { b.OverrideTableOffset(0xFFFFFFFF); }},
        {"one record more than fits", [](HeapBuilder& b) { b.OverrideCount(3); }},
        // The extra record would fit only by taking in the table offset itself.
        {"table runs into the table offset", [](HeapBuilder& b) { b.Slack(6).OverrideCount(3); }},
        {"count 65535", [](HeapBuilder& b) { b.OverrideCount(0xFFFF); }},
        // 0xFFFFFFFC + 12 wraps to 8 = T: a 32-bit end check would pass it.
        {"offset + length wraps", [](HeapBuilder& b) { b.OverrideOffset(2, 0xFFFFFFFC).OverrideLength(2, 12); }},
        {"length reaches into the table", [](HeapBuilder& b) { b.OverrideLength(2, 5); }},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      HeapBuilder b = base();
      c.damage(b);
      ExpectCorrupt(b.Build(), be);
    }
  }
}

// Tiling keeps nested heaps stored in the data area away from their parent's
// table; a nested heap held in-record lies inside that table and may only be
// the empty heap.
TEST(HeapObjectHostile, NestedHeapsThatCoverTheirParentsTable) {
  for (bool be : {false, true}) {
    SCOPED_TRACE(be ? "MM" : "II");
    HeapBuilder inner(be);
    inner.Data(0x0806, {1});
    HeapBuilder whole(be);
    whole.Data(0x0805, {1, 2});
    whole.Nested(0x2804, inner);
    whole.OverrideOffset(2, 0).OverrideLength(2, whole.Size());  // the whole parent heap
    ExpectCorrupt(whole.Build(), be);

    const std::array<uint8_t, 8> emptyHeap = {0, 0, 0xAA, 0xBB, 0, 0, 0, 0};
    std::array<uint8_t, 8> dataNoTable = {0, 0, 0, 0, 0, 0, 0, 0};
    dataNoTable[be ? 7 : 4] = 2;  // T = 2, N = 0
    std::array<uint8_t, 8> tableTooBig = dataNoTable;
    tableTooBig[be ? 3 : 2] = 1;  // T = 2, N = 1
    for (const auto& bytes : {dataNoTable, tableTooBig}) {
      HeapBuilder self(be);
      self.Data(0x0805, {1, 2});
      self.InRecord(0x2804, bytes);
      ExpectCorrupt(self.Build(), be);
    }

    HeapBuilder self(be);
    self.Data(0x0805, {1, 2});
    self.InRecord(0x2804, emptyHeap);
    const Bytes original = self.Build();
    Bytes heap = original;
    RecordEntry list[] = {Entry(0x2804), Entry(0x0806, 1), End(), Entry(0x0805, 1), End()};
    RecordEntry* cursor = list;
    EXPECT_EQ(_GetHeapRecordEntryPtr(Bare(heap.data(), static_cast<uint32_t>(heap.size()), be), &cursor) &
                  0xFFFF,
              0u);
    EXPECT_EQ(cursor, list + 5);
    EXPECT_EQ(list[0].found, 1);
    EXPECT_EQ(list[1].found, 0);
    EXPECT_EQ(PointerOf(list[3]), heap.data());
    EXPECT_EQ(heap, original);
  }
}

TEST(HeapObject, AttachesAHeapFileImageAndReleasesItsBlock) {
  HeapBuilder root(true);
  root.Data(0x0805, kComment);
  const Bytes file = HeapFileBuilder(root).Subtype("JPGM").Version(0x00020001).ExtraHeader(4).Build();
  const auto inBlock = [](const Bytes& bytes) {
    uint8_t* p = qd::BlockAlloc(static_cast<uint32_t>(bytes.size()));
    std::memcpy(p, bytes.data(), bytes.size());
    return p;
  };
  const int64_t live = LiveBlocks();
  uint8_t* block = inBlock(file);
  HeapObject h{};
  ASSERT_EQ(qd::heap::AttachHeapImage(block, "JPGM", &h), qd::ST_OK);
  // Fields are read by value: the packed record leaves them misaligned.
  EXPECT_EQ(static_cast<uint8_t*>(h.block), block);
  EXPECT_EQ(uint32_t{h.headerLength}, 30u);
  EXPECT_EQ(uint32_t{h.version}, 0x00020001u);
  EXPECT_STREQ(h.type, "JPGM");
  EXPECT_EQ(static_cast<uint8_t*>(h.heap), block + 30);
  EXPECT_EQ(uint32_t{h.heapLength}, file.size() - 30);
  EXPECT_EQ(int{h.bigEndian}, 1);
  Bytes comment(13);
  RecordEntry list[] = {Entry(0x0805, 0, comment.data(), 13), End()};
  RecordEntry* cursor = list;
  EXPECT_EQ(qdParseHeapObject(h, &cursor), QD_OK);
  EXPECT_EQ(comment, kComment);
  EXPECT_EQ(qdParseFreeHeapObject(h), QD_OK);
  EXPECT_EQ(LiveBlocks(), live);

  struct Case {
    const char* name;
    Bytes bytes;
    const char* subtype;
  };
  const Case cases[] = {
      {"other subtype", file, "CCDR"},
      {"header length 25", HeapFileBuilder(root).OverrideHeaderLength(25).Build(), nullptr},
      {"header past the block", HeapFileBuilder(root).OverrideHeaderLength(static_cast<uint32_t>(file.size())).Build(),
       nullptr},
      {"no HEAP", HeapFileBuilder(root).Magic("PAEH").Build(), nullptr},
      {"25 bytes", Bytes(file.begin(), file.begin() + 25), nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    qd::BlockOwner owner(inBlock(c.bytes));
    HeapObject out{};
    out.headerLength = 77;
    EXPECT_EQ(qd::heap::AttachHeapImage(owner.get(), c.subtype, &out), qd::ST_UNSUPPORTED);
    EXPECT_EQ(uint32_t{out.headerLength}, 77u);
  }
}

TEST(HeapObject, ReleaseAlwaysSucceeds) {
  HeapObject h{};
  EXPECT_EQ(qdParseFreeHeapObject(h), QD_OK);
  uint8_t foreign[64];
  std::memset(foreign, 0x5C, sizeof foreign);
  h.block = foreign + 32;
  EXPECT_EQ(qdParseFreeHeapObject(h), QD_OK);
  for (uint8_t b : foreign) ASSERT_EQ(b, 0x5C);
}

}  // namespace
}  // namespace qdtest
