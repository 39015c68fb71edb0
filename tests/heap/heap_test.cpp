// Heaps held by the caller, heap images and heap files: where records are
// found, what a copy delivers, and which broken heaps are refused untouched.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "frame/memory_block.h"
#include "heap/heap_file.h"
#include "heap/heap_object.h"
#include "support/fault_sweep.h"
#include "support/heap_builder.h"
#include "support/test_stream.h"

namespace qdtest {
namespace {

using List = std::vector<RecordEntry>;

// Locates (or copies) the listed records of a bare heap held by the caller.
uint32_t Walk(Bytes& heap, bool be, List& list, bool copy = false) {
  RecordEntry* cursor = list.data();
  HeapObject h{};
  h.heap = heap.data();
  h.heapLength = static_cast<uint32_t>(heap.size());
  h.bigEndian = be ? 1 : 0;
  return copy ? qdParseHeapObject(h, &cursor) : _GetHeapRecordEntryPtr(h, &cursor) & 0xFFFF;
}

Bytes Str(const char* s, size_t n) { return Bytes(s, s + n); }

Bytes BlockBytes(const void* p) {
  const auto* b = static_cast<const uint8_t*>(p);
  return b == nullptr ? Bytes{} : Bytes(b, b + qd::BlockLength(p));
}

// Copies in host order. Text too long for the buffer is cut, and marked when
// the marker fits; a partial value is copied as it is; size 0 asks for a copy
// of a plain kind of at most 0xFFFF bytes; an empty record is not found.
TEST(RecordWalk, CopiesAreCutOrAllocated) {
  const Bytes text = Str("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcd", 40);
  HeapBuilder inner(true), root(true);  // big-endian, with a nested heap
  inner.InRecord(0x1817, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88});
  inner.Data(0x180E, U32s({0x01020304}, true));
  root.Data(0x0815, text);
  root.Data(0x1001, {1, 2, 3, 4, 5, 6});
  root.Data(0x2007, {1, 2});
  root.Data(0x0008, Bytes(0xFFFF, 9));
  root.Data(0x0009, Bytes(0x10000));
  root.Data(0x000A, {});
  root.Nested(0x300A, inner);
  const Bytes original = root.Build();
  Bytes heap = original;
  const struct {
    uint16_t type;
    uint32_t size;  // 0: allocated by the library
    Bytes expected;
    uint32_t delivered;
    uint16_t heap;  // the nested heap the record is in, or 0
  } cases[] = {
      {0x0815, 16, Str("ABCDEFGHIJKL...", 16), 16, 0},
      {0x0815, 4, Str("...", 4), 4, 0},
      {0x0815, 3, Str("ABC", 3), 3, 0},
      {0x0815, 50, text, 40, 0},
      {0x1001, 5, {2, 1, 4, 3, 5}, 5, 0},
      {0x2007, 0, {}, 0, 0},  // structures are not allocated
      {0x0008, 0, Bytes(0xFFFF, 9), 0xFFFF, 0},
      {0x0009, 0, {}, 0x10000, 0},
      {0x1817, 8, {0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55}, 8, 0x300A},
      {0x180E, 0, U32s({0x01020304}, false), 4, 0x300A},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.type << " into " << c.size);
    Bytes out(c.size + 1, 0xCC);
    void* block = nullptr;
    void* to = c.size ? static_cast<void*>(out.data()) : &block;
    const RecordEntry e = {c.type, 0, to, c.size};
    List list = c.heap ? List{{c.heap}, e, {}, {}} : List{e, {}};
    ASSERT_EQ(Walk(heap, true, list, true), QD_OK);
    EXPECT_EQ(heap, original) << "tables must be back in the heap's own order";
    EXPECT_EQ(+list[c.heap ? 1 : 0].size, c.delivered);
    EXPECT_EQ(out[c.size], 0xCC) << "written past the buffer";
    out.resize(c.expected.size());
    EXPECT_EQ(c.size ? out : BlockBytes(block), c.expected);
    EXPECT_EQ(qd::BlockFree(block), qd::ST_OK);
  }
  List empty = {{0x000A, 1}, {}};
  ASSERT_EQ(Walk(heap, true, empty), 0u);
  EXPECT_EQ(+empty[0].found, 0);
}

// Of two records of a type the first in the table answers, in tables small
// enough to be indexed and in larger ones, which are scanned.
TEST(RecordWalk, TheFirstRecordOfATypeAnswers) {
  for (const uint16_t fillers : {0, 130}) {
    HeapBuilder root(false);
    for (uint16_t i = 0; i < fillers; ++i) root.InRecord(static_cast<uint16_t>(0x1900 + i), {});
    root.Data(0x0815, {'x'});
    root.Data(0x0009, {1});
    root.Data(0x0815, {'y'});
    Bytes heap = root.Build();
    uint8_t first = 0, second = 0;
    List list = {{0x0815, 0, &first, 1}, {0x0009, 0, &second, 1}, {}};
    ASSERT_EQ(Walk(heap, false, list, true), QD_OK) << fillers;
    EXPECT_EQ(first, 'x') << fillers;
    EXPECT_EQ(second, 1) << fillers;
  }
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
      List list = {{0x0805, 1}, {0x2804}, {0x0806, 1}, {}, {}};
      EXPECT_EQ(Walk(heap, be, list), uint32_t{qd::ST_CORRUPT});
      EXPECT_EQ(Walk(heap, be, list, true), QD_E_CORRUPT);
      EXPECT_EQ(heap, original);
    }
    Bytes swapped = broken([](HeapBuilder& b) { b.OverrideOffset(1, 4).OverrideOffset(2, 0); });
    List list = {{0x0805, 1}, {}};
    EXPECT_EQ(Walk(swapped, be, list), 0u);
    EXPECT_EQ(static_cast<void*>(list[0].pointer), swapped.data() + 4);
  }
}

// Heap files on a stream and heap images in a block share their header:
// byte-order mark, "HEAP", the wanted subtype, a header length inside the
// file. Opening a file also checks its root heap's table.
TEST(HeapFile, OpensAndAttachesOnlyWellFormedFilesOfTheWantedSubtype) {
  HeapBuilder root(false);
  root.Data(0x0805, Str("root comment", 13));
  root.Data(0x0806, {1, 2, 3, 4});
  const Bytes good = HeapFileBuilder(root).Build();
  const auto n = static_cast<uint32_t>(good.size());
  const qd::Status U = qd::ST_UNSUPPORTED, C = qd::ST_CORRUPT, K = qd::ST_OK;
  const struct {
    Bytes file;
    qd::Status opened, attached;
  } cases[] = {
      {good, K, K},
      {HeapFileBuilder(root).Mark("IM").Build(), U, U},
      {HeapFileBuilder(root).Magic("HEAQ").Build(), U, U},
      {HeapFileBuilder(root).Subtype("JPGM").Build(), U, U},
      {HeapFileBuilder(root).OverrideHeaderLength(25).Build(), U, U},
      {HeapFileBuilder(root).OverrideHeaderLength(n + 1).Build(), U, U},
      {HeapFileBuilder(root).OverrideHeaderLength(n - 5).Build(), U, K},
      {HeapFileBuilder(HeapBuilder(root).OverrideTableOffset(n - 26 - 5)).Build(), U, K},
      {HeapFileBuilder(HeapBuilder(root).OverrideCount(5)).Build(), C, K},
      {HeapFileBuilder(HeapBuilder(root).OverrideLength(1, 12)).Build(), C, K},
  };
  const int64_t live = LiveBlocks();
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << &c - cases);
    TestStream stream(c.file);
    qd::StreamPort port{};
    qd::MakeStreamPort(stream.stream(), &port);
    qd::heap::HeapFile f{};
    const qd::Status opened = qd::heap::OpenHeapFile(port, "CCDR", &f);
    EXPECT_EQ(opened, c.opened);
    if (opened == K) {
      // A root record past the file fails the load and releases what it
      // loaded: 26 + 13 + length wraps to 8 when the sum is cut to 32 bits.
      qd::PutLE32(0xFFFFFFE1u, f.root.table + 2 + 10 + 2);
      qd::heap::RootRequest req[] = {{0x0805, 0, 0, 0, 0, 1, nullptr},
                                     {0x0806, 0, 0, 0, 0, 1, nullptr}, {}};
      EXPECT_EQ(qd::heap::LoadRootRecords(f, req), qd::ST_CORRUPT);
      EXPECT_EQ(req[0].data, nullptr);
      EXPECT_EQ(qd::BlockFree(f.root.table), qd::ST_OK);
    }
    uint8_t* block = qd::BlockAlloc(static_cast<uint32_t>(c.file.size()));
    std::memcpy(block, c.file.data(), c.file.size());
    HeapObject h{};
    const qd::Status attached = qd::heap::AttachHeapImage(block, "CCDR", &h);
    EXPECT_EQ(attached, c.attached);
    if (attached == K) EXPECT_EQ(qdParseFreeHeapObject(h), QD_OK);
    if (attached != K) EXPECT_EQ(qd::BlockFree(block), qd::ST_OK);
  }
  EXPECT_EQ(LiveBlocks(), live);
}

}  // namespace
}  // namespace qdtest
