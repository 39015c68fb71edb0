#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "frame/memory_block.h"
#include "frame/status.h"
#include "heap/heap_object.h"
#include "heap/walk_support.h"
#include "support/fault_sweep.h"

namespace qdtest {
namespace {

HeapObject BareOf(Bytes& heap, bool be) { return Bare(heap.data(), static_cast<uint32_t>(heap.size()), be); }

// Copies one record of a single-level heap into the given entry.
uint32_t CopyOne(Bytes& heap, bool be, RecordEntry* entry) {
  RecordEntry list[] = {*entry, End()};
  RecordEntry* cursor = list;
  const uint32_t result = qdParseHeapObject(BareOf(heap, be), &cursor);
  *entry = list[0];
  return result;
}

TEST(HeapObjectCopy, LongTextIsCutWithAMarkerWhenThereIsRoomForIt) {
  Bytes text(40);
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<uint8_t>('A' + i % 26);
  HeapBuilder b(true);
  b.Data(0x0815, text);
  Bytes heap = b.Build();
  const struct {
    uint32_t size, delivered;
    bool marker;
  } cases[] = {{16, 16, true}, {4, 4, true}, {3, 3, false}, {40, 40, false}, {50, 40, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "buffer of " << c.size);
    Bytes out(c.size, 0xCC);
    RecordEntry e = Entry(0x0815, 0, out.data(), c.size);
    ASSERT_EQ(CopyOne(heap, true, &e), QD_OK);
    EXPECT_EQ(e.size, c.delivered);
    Bytes expected(text.begin(), text.begin() + c.delivered);
    if (c.marker) std::memcpy(expected.data() + c.size - 4, "...", 4);
    expected.resize(c.size, 0xCC);
    EXPECT_EQ(out, expected);
  }
}

// Whole values are converted to the host's order, a partial one is copied
// as it is; size 0 allocates a copy for plain kinds only, and not for
// records too long for one.
TEST(HeapObjectCopy, ValuesAreConvertedAndSizeZeroAllocates) {
  HeapBuilder partial(true);
  partial.Data(0x1001, {1, 2, 3, 4, 5, 6});
  partial.Data(0x1802, {1, 2, 3, 4, 5, 6});
  Bytes heap = partial.Build();
  Bytes out(6);
  RecordEntry e = Entry(0x1001, 0, out.data(), 5);
  ASSERT_EQ(CopyOne(heap, true, &e), QD_OK);
  EXPECT_EQ(out, (Bytes{2, 1, 4, 3, 5, 0}));
  e = Entry(0x1802, 0, out.data(), 6);
  ASSERT_EQ(CopyOne(heap, true, &e), QD_OK);
  EXPECT_EQ(out, (Bytes{4, 3, 2, 1, 5, 6}));

  for (bool be : {false, true}) {
    SCOPED_TRACE(be ? "MM" : "II");
    const Bytes data = {1, 2, 3, 4, 5, 6, 7, 8};
    const Bytes swapped16 = be ? Bytes{2, 1, 4, 3, 6, 5, 8, 7} : data;
    const Bytes swapped32 = be ? Bytes{4, 3, 2, 1, 8, 7, 6, 5} : data;
    HeapBuilder b(be);
    for (uint16_t type : {0x0007, 0x0807, 0x1007, 0x1807, 0x2007}) b.Data(type, data);
    b.Data(0x0008, Bytes(0x10000));
    heap = b.Build();
    const int64_t live = LiveBlocks();
    const struct {
      uint16_t type;
      const Bytes* expected;  // null: nothing allocated
      uint32_t size;
    } cases[] = {{0x0007, &data, 8},      {0x0807, &data, 8},      {0x1007, &swapped16, 8},
                 {0x1807, &swapped32, 8}, {0x2007, nullptr, 0},    {0x0008, nullptr, 0x10000}};
    for (const auto& c : cases) {
      SCOPED_TRACE(testing::Message() << std::hex << c.type);
      void* block = nullptr;
      e = Entry(c.type, 0, &block, 0);
      ASSERT_EQ(CopyOne(heap, be, &e), QD_OK);
      EXPECT_EQ(e.found, 1);
      EXPECT_EQ(e.size, c.size);
      const auto* p = static_cast<uint8_t*>(block);
      EXPECT_EQ(p == nullptr ? Bytes{} : Bytes(p, p + qd::BlockLength(p)), c.expected ? *c.expected : Bytes{});
      EXPECT_EQ(qd::BlockFree(block), qd::ST_OK);
    }
    EXPECT_EQ(LiveBlocks(), live);
  }
}

// A hostile heap must give its status without reading outside the bytes it
// was given or changing them: every fixture lives in a buffer of exactly its
// own size.
TEST(HeapObjectHostile, BrokenHeapsAreCorruptAndLeftAsTheyWere) {
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
    const auto broken = [&](const std::function<void(HeapBuilder&)>& damage) {
      HeapBuilder b = base();
      damage(b);
      return b.Build();
    };
    // A nested heap held in-record lies inside its parent's table and may
    // only be the empty heap; one stored as data may not cover the table.
    const auto inRecord = [be](uint8_t count) {
      std::array<uint8_t, 8> nested = {};
      nested[be ? 7 : 4] = 2;      // T = 2
      nested[be ? 3 : 2] = count;  // N
      HeapBuilder b(be);
      b.Data(0x0805, {1, 2});
      b.InRecord(0x2804, nested);
      return b.Build();
    };
    HeapBuilder inner(be), whole(be);
    inner.Data(0x0806, {1});
    whole.Data(0x0805, {1, 2});
    whole.Nested(0x2804, inner);
    whole.OverrideOffset(2, 0).OverrideLength(2, whole.Size());

    std::vector<std::pair<const char*, Bytes>> cases = {
        {"table offset L - 5", broken([&](HeapBuilder& b) { b.OverrideTableOffset(size - 5); })},
        {"table offset 2^32 - 6", broken([](HeapBuilder& b) { b.OverrideTableOffset(0xFFFFFFFA); })},
        {"table offset 2^32 - 1", broken([](HeapBuilder& b) { b.OverrideTableOffset(0xFFFFFFFF); })},
        {"one record more than fits", broken([](HeapBuilder& b) { b.OverrideCount(3); })},
        // The extra record would fit only by taking in the table offset itself.
        {"table runs into the table offset", broken([](HeapBuilder& b) { b.Slack(6).OverrideCount(3); })},
        {"count 65535", broken([](HeapBuilder& b) { b.OverrideCount(0xFFFF); })},
        {"length reaches into the table", broken([](HeapBuilder& b) { b.OverrideLength(2, 5); })},
        {"nested heap covers its parent", whole.Build()},
        {"in-record heap with data", inRecord(0)},
        {"in-record heap with a record", inRecord(1)},
    };
    for (uint32_t n = 1; n < 6; ++n) cases.push_back({"shorter than a heap", Bytes(n, 0)});
    for (const auto& [name, original] : cases) {
      SCOPED_TRACE(testing::Message() << name << ", " << original.size() << " bytes");
      Bytes heap = original;
      int keep = 0;
      RecordEntry list[] = {Entry(0x0805, 1, &keep, 1), Entry(0x2804), Entry(0x0806, 1), End(), End()};
      RecordEntry* cursor = list;
      EXPECT_EQ(_GetHeapRecordEntryPtr(BareOf(heap, be), &cursor) & 0xFFFF, uint32_t{qd::ST_CORRUPT});
      cursor = list;
      EXPECT_EQ(qdParseHeapObject(BareOf(heap, be), &cursor), QD_E_CORRUPT);
      EXPECT_EQ(heap, original);
    }

    // The empty heap in-record is fine, and so are six bytes of nothing.
    std::array<uint8_t, 8> emptyHeap = {0, 0, 0xAA, 0xBB, 0, 0, 0, 0};
    HeapBuilder self(be);
    self.Data(0x0805, {1, 2});
    self.InRecord(0x2804, emptyHeap);
    Bytes heap = self.Build();
    RecordEntry list[] = {Entry(0x2804), Entry(0x0806, 1), End(), Entry(0x0805, 1), End()};
    RecordEntry* cursor = list;
    EXPECT_EQ(_GetHeapRecordEntryPtr(BareOf(heap, be), &cursor) & 0xFFFF, 0u);
    EXPECT_EQ(cursor, list + 5);
    EXPECT_EQ(list[0].found, 1);
    EXPECT_EQ(list[1].found, 0);
    EXPECT_EQ(PointerOf(list[3]), heap.data());
    Bytes empty(6, 0);
    RecordEntry none[] = {Entry(0x0805, 1), End()};
    cursor = none;
    EXPECT_EQ(qdParseHeapObject(BareOf(empty, be), &cursor), QD_OK);
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
  EXPECT_EQ(static_cast<uint8_t*>(h.heap), block + 30);
  EXPECT_EQ((std::vector<uint32_t>{h.version, h.heapLength, h.bigEndian}),
            (std::vector<uint32_t>{0x00020001, static_cast<uint32_t>(file.size() - 30), 1}));
  Bytes comment(13);
  RecordEntry list[] = {Entry(0x0805, 0, comment.data(), 13), End()};
  RecordEntry* cursor = list;
  EXPECT_EQ(qdParseHeapObject(h, &cursor), QD_OK);
  EXPECT_EQ(comment, kComment);
  EXPECT_EQ(qdParseFreeHeapObject(h), QD_OK);
  EXPECT_EQ(LiveBlocks(), live);

  // The probes decline other subtypes and magic through this; the header
  // length is checked only here.
  const struct {
    const char* name;
    Bytes bytes;
    const char* subtype;
  } cases[] = {
      {"other subtype", file, "CCDR"},
      {"header length 25", HeapFileBuilder(root).OverrideHeaderLength(25).Build(), nullptr},
      {"header past the block",
       HeapFileBuilder(root).OverrideHeaderLength(static_cast<uint32_t>(file.size() + 1)).Build(), nullptr},
      {"25 bytes", Bytes(file.begin(), file.begin() + 25), nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    qd::BlockOwner owner(inBlock(c.bytes));
    HeapObject out{};
    out.headerLength = 77;
    EXPECT_EQ(qd::heap::AttachHeapImage(owner.get(), c.subtype, &out), qd::ST_UNSUPPORTED);
    EXPECT_EQ(uint32_t{out.headerLength}, 77u);
  }
  // Release succeeds whatever it is given and leaves a foreign block alone.
  uint8_t foreign[64];
  std::memset(foreign, 0x5C, sizeof foreign);
  h = HeapObject{};
  h.block = foreign + 32;
  EXPECT_EQ(qdParseFreeHeapObject(h), QD_OK);
  for (uint8_t b : foreign) ASSERT_EQ(b, 0x5C);
}

}  // namespace
}  // namespace qdtest
