// Heaps held by the caller, heap images and heap files: where records are
// found, what a copy delivers, and which broken heaps are refused untouched.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "frame/memory_block.h"
#include "frame/status.h"
#include "heap/heap_file.h"
#include "heap/heap_object.h"
#include "heap/walk_support.h"
#include "support/fault_sweep.h"
#include "support/test_stream.h"

namespace qdtest {
namespace {

using Nums = std::vector<uint32_t>;
using List = std::vector<RecordEntry>;

// The two walks of a heap held by the caller: locating records, copying them.
constexpr bool kLocate = false, kCopy = true;

uint32_t Walk(Bytes& heap, bool be, List& list, bool copy) {
  RecordEntry* cursor = list.data();
  const HeapObject h = Bare(heap.data(), uint32_t(heap.size()), be);
  return copy ? qdParseHeapObject(h, &cursor) : _GetHeapRecordEntryPtr(h, &cursor) & 0xFFFF;
}

Bytes Str(const char* s, size_t n) { return Bytes(s, s + n); }

Bytes BlockBytes(const void* p) {
  const auto* b = static_cast<const uint8_t*>(p);
  return b == nullptr ? Bytes{} : Bytes(b, b + qd::BlockLength(p));
}

TEST(RecordWalk, LocatesRecordsThroughNestedListsAndSkipsAbsentHeaps) {
  for (bool be : {false, true}) {
    SCOPED_TRACE(be ? "MM" : "II");
    NestedHeap h(be);
    Bytes heap = h.bytes;
    int keep = 0;  // what untouched entries point at
    List list = {Entry(0x0805, 1), Entry(0x300A), Entry(0x5817, 1),  // 2: location bits differ
                 Entry(0x2804), Entry(0x1803, 1), End(),
                 Entry(0x2807, 1), Entry(0x0810, 7, &keep, 5), End(),  // 6: absent, skipped
                 End(), Entry(0x1810, 1), End()};
    const List before = list;
    ASSERT_EQ(Walk(heap, be, list, kLocate), 0u);
    EXPECT_EQ(heap, h.bytes) << "tables must be back in the heap's own order";
    const struct {
      size_t entry;
      uint32_t at, size;
    } located[] = {{0, h.root.DataOffset(1), 13}, {2, h.atA + h.a.DataOffset(2), 8},
                   {4, h.atB + h.b.DataOffset(3), 8}, {10, h.root.DataOffset(3), 8}};
    for (const auto& l : located) {
      SCOPED_TRACE(testing::Message() << "entry " << l.entry);
      EXPECT_EQ(list[l.entry].found, 1);
      EXPECT_EQ(PointerOf(list[l.entry]), heap.data() + l.at);
      EXPECT_EQ(list[l.entry].size, l.size);
    }
    EXPECT_EQ(list[6].found, 0);
    EXPECT_EQ(0, std::memcmp(&list[7], &before[7], sizeof(RecordEntry)));
  }
}

// Checking each table allocates, and failing there is an error; failing to
// allocate the caller's copy is not. Swept here: this export reads no stream.
TEST(RecordWalk, CopiesHostOrderValuesOutOfNestedHeapsUnderAllocationFailures) {
  NestedHeap h(true);
  Bytes heap = h.bytes;
  int copiesMissed = 0;
  SweepAllocationFailures(
      [&] {
        Bytes comment(13), number(8), value(4);
        void* values = nullptr;  // allocated by the library
        List list = {Entry(0x0805, 0, comment.data(), 13), Entry(0x300A),
                     Entry(0x1817, 0, number.data(), 8),   Entry(0x2804),
                     Entry(0x102A, 0, &values, 0),         Entry(0x3004),
                     Entry(0x180E, 0, value.data(), 4),    End(), End(), End(), End()};
        const uint32_t result = Walk(heap, true, list, kCopy);
        EXPECT_EQ(heap, h.bytes);
        if (result == QD_OK) {
          EXPECT_EQ(comment, kComment);
          EXPECT_EQ(number, (Bytes{0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55}));
          EXPECT_EQ(value, U32s({0x01020304}, false));
          copiesMissed += values == nullptr ? 1 : 0;
          if (values != nullptr) EXPECT_EQ(BlockBytes(values), U16s({1, 0x0203, 0x0405}, false));
        }
        EXPECT_EQ(qd::BlockFree(values), qd::ST_OK);
        return result;
      },
      {QD_E_NO_MEMORY});
  EXPECT_EQ(copiesMissed, 1);
}

// Text too long for the buffer is cut, and marked when the marker fits; a
// partial value is copied as it is; size 0 asks for a copy of a plain kind
// of at most 0xFFFF bytes; an empty record is not found.
TEST(RecordWalk, CopiesAreCutOrAllocated) {
  const Bytes text = Str("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcd", 40);
  HeapBuilder b(true);
  b.Data(0x0815, text);
  b.Data(0x1001, {1, 2, 3, 4, 5, 6});
  b.Data(0x2007, {1, 2});
  b.Data(0x0008, Bytes(0xFFFF, 9));
  b.Data(0x0009, Bytes(0x10000));
  b.Data(0x000A, {});
  Bytes heap = b.Build();
  const struct {
    uint16_t type;
    uint32_t size;  // 0: allocated by the library
    Bytes expected;
    uint32_t delivered;
  } cases[] = {
      {0x0815, 16, Str("ABCDEFGHIJKL...", 16), 16},
      {0x0815, 4, Str("...", 4), 4},
      {0x0815, 3, Str("ABC", 3), 3},
      {0x0815, 50, text, 40},
      {0x1001, 5, {2, 1, 4, 3, 5}, 5},
      {0x2007, 0, {}, 0},  // structures are not allocated
      {0x0008, 0, Bytes(0xFFFF, 9), 0xFFFF},
      {0x0009, 0, {}, 0x10000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.type << " into " << c.size);
    Bytes out(c.size + 1, 0xCC);
    void* block = nullptr;
    List list = {Entry(c.type, 0, c.size ? static_cast<void*>(out.data()) : &block, c.size), End()};
    ASSERT_EQ(Walk(heap, true, list, kCopy), QD_OK);
    EXPECT_EQ(list[0].size, c.delivered);
    EXPECT_EQ(out[c.size], 0xCC) << "written past the buffer";
    out.resize(c.expected.size());
    EXPECT_EQ(c.size ? out : BlockBytes(block), c.expected);
    EXPECT_EQ(qd::BlockFree(block), qd::ST_OK);
  }
  List empty = {Entry(0x000A, 1), End()};
  ASSERT_EQ(Walk(heap, true, empty, kLocate), 0u);
  EXPECT_EQ(empty[0].found, 0);
}

// Each fixture is a buffer of exactly its size: nothing may be read past it.
// The data blocks must tile the data area, in any order.
TEST(RecordWalk, BrokenHeapsAreCorruptAndLeftAsTheyWere) {
  for (bool be : {false, true}) {
    SCOPED_TRACE(be ? "MM" : "II");
    const auto broken = [be](const std::function<void(HeapBuilder&)>& damage) {
      HeapBuilder b(be);  // A = [0, 4), B = [4, 8), T = 8, 34 bytes
      b.Data(0x0805, {1, 2, 3, 4});
      b.Data(0x0806, {5, 6, 7, 8});
      damage(b);
      return b.Build();
    };
    const Bytes cases[] = {
        broken([](HeapBuilder& b) { b.OverrideTableOffset(29); }),  // L - 5
        broken([](HeapBuilder& b) { b.OverrideTableOffset(0xFFFFFFFA); }),
        broken([](HeapBuilder& b) { b.OverrideCount(3); }),
        broken([](HeapBuilder& b) { b.Slack(6).OverrideCount(3); }),  // fits only over T itself
        broken([](HeapBuilder& b) { b.OverrideLength(2, 5); }),  // into the table
        broken([](HeapBuilder& b) { b.OverrideLength(2, 3); }),  // a gap at the end
        broken([](HeapBuilder& b) { b.OverrideOffset(2, 3); }),  // an overlap
        broken([](HeapBuilder& b) { b.OverrideOffset(1, 1).OverrideLength(1, 3); }),  // not at 0
        broken([](HeapBuilder& b) { b.OverrideLength(2, 0xFFFFFFFC); }),  // the end wraps
        Bytes(5, 0),
    };
    for (const Bytes& original : cases) {
      SCOPED_TRACE(testing::Message() << "case " << &original - cases);
      Bytes heap = original;
      List list = {Entry(0x0805, 1), Entry(0x2804), Entry(0x0806, 1), End(), End()};
      EXPECT_EQ(Walk(heap, be, list, kLocate), uint32_t{qd::ST_CORRUPT});
      EXPECT_EQ(Walk(heap, be, list, kCopy), QD_E_CORRUPT);
      EXPECT_EQ(heap, original);
    }
    Bytes swapped = broken([](HeapBuilder& b) { b.OverrideOffset(1, 4).OverrideOffset(2, 0); });
    List list = {Entry(0x0805, 1), End()};
    EXPECT_EQ(Walk(swapped, be, list, kLocate), 0u);
    EXPECT_EQ(PointerOf(list[0]), swapped.data() + 4);
  }
}

TEST(HeapObject, AttachesAHeapFileImageAndReleasesItsBlock) {
  HeapBuilder root(true);
  root.Data(0x0805, kComment);
  const Bytes file = HeapFileBuilder(root).Subtype("JPGM").ExtraHeader(4).Build();
  const auto inBlock = [](const Bytes& bytes) {
    uint8_t* p = qd::BlockAlloc(static_cast<uint32_t>(bytes.size()));
    return static_cast<uint8_t*>(std::memcpy(p, bytes.data(), bytes.size()));
  };
  const int64_t live = LiveBlocks();
  HeapObject h{};
  ASSERT_EQ(qd::heap::AttachHeapImage(inBlock(file), "JPGM", &h), qd::ST_OK);
  Bytes comment(13);
  List list = {Entry(0x0805, 0, comment.data(), 13), End()};
  RecordEntry* cursor = list.data();
  EXPECT_EQ(qdParseHeapObject(h, &cursor), QD_OK);
  EXPECT_EQ(comment, kComment);
  EXPECT_EQ(qdParseFreeHeapObject(h), QD_OK);
  EXPECT_EQ(LiveBlocks(), live);

  const auto header = [&](uint32_t h) {
    return HeapFileBuilder(root).OverrideHeaderLength(h).Build();
  };
  for (const Bytes& bytes : {header(25), header(uint32_t(file.size() + 1)), file}) {
    qd::BlockOwner owner(inBlock(bytes));
    EXPECT_EQ(qd::heap::AttachHeapImage(owner.get(), "CCDR", &h), qd::ST_UNSUPPORTED);
  }
}

// 1 comment, 2 nested heap, 3 in-record number, 4 free space.
HeapBuilder Root(bool be, const std::function<void(HeapBuilder&)>& damage = nullptr) {
  HeapBuilder inner(be), root(be);
  inner.Data(0x0810, kOwner);
  root.Data(0x0805, kComment);
  root.Nested(0x300A, inner);
  root.InRecord(0x1817, kNumber);
  root.Free(4);
  if (damage) damage(root);
  return root;
}

// Opens a heap file of subtype CCDR on a test stream; `opened` sees it
// before its table is released.
qd::Status Open(Bytes bytes, const std::function<void(qd::heap::HeapFile&)>& opened = nullptr) {
  TestStream stream(std::move(bytes));
  qd::StreamPort port{};
  qd::MakeStreamPort(stream.stream(), &port);
  qd::heap::HeapFile file{};
  const qd::Status st = qd::heap::OpenHeapFile(port, "CCDR", &file);
  if (st == qd::ST_OK && opened) opened(file);
  if (st == qd::ST_OK) (void)qd::BlockFree(file.root.table);
  return st;
}

TEST(HeapFile, RefusesAnythingButAWellFormedHeapFileOfTheWantedSubtype) {
  const auto n = static_cast<uint32_t>(HeapFileBuilder(Root(true)).Build().size());
  const auto file = [](const std::function<void(HeapFileBuilder&)>& f) {
    HeapFileBuilder fb(Root(true));
    f(fb);
    return fb.Build();
  };
  const auto heap = [](const std::function<void(HeapBuilder&)>& f) {
    return HeapFileBuilder(Root(true, f)).Build();
  };
  const struct {
    Bytes file;
    qd::Status expected;
  } cases[] = {
      {file([](auto& b) { b.Mark("IM"); }), qd::ST_UNSUPPORTED},
      {file([](auto& b) { b.Magic("HEAQ"); }), qd::ST_UNSUPPORTED},
      {file([](auto& b) { b.Subtype("JPGM"); }), qd::ST_UNSUPPORTED},
      {file([&](auto& b) { b.OverrideHeaderLength(n + 1); }), qd::ST_UNSUPPORTED},
      {file([&](auto& b) { b.OverrideHeaderLength(n - 5); }), qd::ST_UNSUPPORTED},
      {heap([&](auto& r) { r.OverrideTableOffset(n - 26 - 5); }), qd::ST_UNSUPPORTED},
      {heap([](auto& r) { r.OverrideCount(5); }), qd::ST_CORRUPT},
      {heap([](auto& r) { r.OverrideLength(1, 12); }), qd::ST_CORRUPT},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Open(c.file), c.expected) << &c - cases;
  }

  // A root record past the file fails the load and releases what it loaded:
  // 26 + 13 + length wraps to 8 when the sum is cut to 32 bits.
  const int64_t live = LiveBlocks();
  ASSERT_EQ(Open(HeapFileBuilder(Root(false)).Build(), [](qd::heap::HeapFile& f) {
              qd::PutLE32(0xFFFFFFE1u, f.root.table + 2 + 10 + 2);
              qd::heap::RootRequest req[] = {{0x0805, 0, 0, 0, 0, 1, nullptr},
                                             {0x300A, 0, 0, 0, 0, 1, nullptr}, {}};
              EXPECT_EQ(qd::heap::LoadRootRecords(f, req), qd::ST_CORRUPT);
              EXPECT_EQ(req[0].data, nullptr);
            }), qd::ST_OK);
  EXPECT_EQ(LiveBlocks(), live);
}

}  // namespace
}  // namespace qdtest
