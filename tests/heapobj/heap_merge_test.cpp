// Merging entry lists into heap objects, read back through the record walk.
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "qdparse.h"
#include "support/fault_sweep.h"
#include "heapobj/heapobj_support.h"

namespace qdtest {
namespace {

HeapObject Bare(Bytes& heap, bool bigEndian) {
  HeapObject h{};
  h.heap = heap.data();
  h.heapLength = static_cast<uint32_t>(heap.size());
  h.bigEndian = bigEndian ? 1 : 0;
  h.version = 0x00010006;
  return h;
}

// Type words of a heap's table in slot order, and the heap's data length T.
std::vector<uint16_t> Types(const uint8_t* heap, uint32_t length, bool bigEndian, uint32_t* t) {
  *t = GetU32(heap + length - 4, bigEndian);
  std::vector<uint16_t> types;
  for (uint32_t i = 0; i < GetU16(heap + *t, bigEndian); ++i) {
    types.push_back(GetU16(heap + *t + 2 + 10 * i, bigEndian));
  }
  return types;
}

// Entries of the table's own unused and free-space types add nothing.
TEST(HeapMerge, AnEmptyListWithoutSourceIsTheSmallestHeapFile) {
  const uint8_t five[5] = {1, 2, 3, 4, 5};
  const RecordEntry list[] = {Entry(0x0001, five, 5), Entry(0x4000, five, 5), RecordEntry{}};
  HeapObject out{};
  ASSERT_EQ(qdParseMergePropertiesIntoHeapObject(nullptr, list, &out), QD_OK);
  const Bytes want = {'I', 'I', 26, 0, 0, 0, 'H', 'E', 'A', 'P', 'J', 'P', 'G', 'M', 2, 0, 1, 0,
                      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(Bytes(out.block, out.block + want.size()), want);
  EXPECT_EQ(+out.heap, out.block + 26);
  EXPECT_EQ(+out.heapLength, 6u);
  EXPECT_STREQ(out.type, "JPGM");
  EXPECT_EQ(+out.version, 0x00010002u);
  EXPECT_EQ(qdParseFreeHeapObject(out), QD_OK);
  EXPECT_EQ(LiveBlocks(), 0);
}

// Sizes round to whole values of the record's kind; up to 8 bytes stay in the
// record. Data blocks follow each other in list order, in either byte order.
TEST(HeapMerge, RecordsRoundToTheirKindAndSmallOnesStayInTheirRecord) {
  const Bytes five = {'a', 'b', 'c', 'd', 0}, nine = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 0};
  const Bytes six = {1, 2, 3, 4, 5, 6}, nineU32 = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  const Bytes words = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  struct Row {
    uint16_t type;
    const Bytes* data;
    uint32_t area;  // data-area bytes; 0: in the record
  } rows[] = {{0x0805, &five, 0},    {0x0815, &nine, 10}, {0x1810, &six, 0},
              {0x1834, &nineU32, 12}, {0x1029, &words, 10}};
  for (bool big : {false, true}) {
    SCOPED_TRACE(big ? "MM" : "II");
    Bytes empty = HeapBuilder(big).Build();
    const HeapObject source = Bare(empty, big);
    std::vector<RecordEntry> list;
    for (const Row& r : rows) list.push_back(Entry(r.type, r.data->data(), uint32_t(r.data->size())));
    list.push_back(RecordEntry{});
    HeapObject out{};
    ASSERT_EQ(qdParseMergePropertiesIntoHeapObject(&source, list.data(), &out), QD_OK);
    EXPECT_EQ(+out.bigEndian, big ? 1 : 0);
    EXPECT_EQ(+out.version, 0x00010006u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out.block), 2), big ? "MM" : "II");
    uint32_t t = 0;
    const std::vector<uint16_t> types = Types(out.heap, out.heapLength, big, &t);
    EXPECT_EQ(t, 10u + 12 + 10);
    EXPECT_EQ(+out.heapLength, t + 10 * 5 + 6);
    uint32_t offset = 0;
    for (size_t i = 0; i < std::size(rows); ++i) {
      SCOPED_TRACE(i);
      const uint8_t* record = out.heap + t + 2 + 10 * i;
      EXPECT_EQ(types[i], rows[i].type | (rows[i].area == 0 ? 0x4000 : 0));
      if (rows[i].area != 0) {
        EXPECT_EQ(GetU32(record + 2, big), rows[i].area);
        EXPECT_EQ(GetU32(record + 6, big), offset);
        offset += rows[i].area;
      }
      // A partial 32-bit value keeps its bytes; the reader swaps whole ones.
      if (big && (rows[i].type & 0x3800) == 0x1800) continue;
      Bytes want = *rows[i].data;
      want.resize((rows[i].area == 0 ? 8 : rows[i].area), 0);
      EXPECT_EQ(Read(out, {rows[i].type}), want);
    }
    // The numbers are stored in the heap's order.
    const Bytes stored(out.heap + 10, out.heap + 14), native = {1, 2, 3, 4};
    EXPECT_EQ(stored, big ? Bytes(native.rbegin(), native.rend()) : native);
    qdParseFreeHeapObject(out);
  }
  EXPECT_EQ(LiveBlocks(), 0);
}

// A source with a comment, an in-record value, free space, and two nested
// heaps; the list replaces, adds, merges into one nested heap and names two
// nested heaps that end up with nothing in them.
struct SourceCase {
  explicit SourceCase(bool big) : big(big) {
    HeapBuilder settings(big), image(big), root(big);
    settings.InRecord(0x1029, {1, 2, 3, 4, 5, 6, 7, 8});
    settings.Data(0x102A, U16s({1, 2, 3, 4, 5, 6}, big));
    image.Data(0x0815, {'J', 'P', 'E', 'G', 0, 0});
    root.Data(0x0805, {'o', 'l', 'd', ' ', 'c', 'o', 'm', 'm', 'e', 'n', 't', 0});
    root.InRecord(0x1817, {9, 9, 8, 8, 7, 7, 6, 6});
    root.Free(4);
    root.Nested(0x300B, settings);
    root.Nested(0x2804, image);
    bytes = root.Build();
    imageHeap.assign(bytes.begin() + root.DataOffset(5),
                     bytes.begin() + root.DataOffset(5) + image.Size());
    list = {Entry(0x0805, comment, 4), Entry(0x1834, numbers, 12),
            Entry(0x300B), Entry(0x102A, words, 6), Entry(0x1033, blob, 10),
            Entry(0x1031, nullptr, 0, 0), RecordEntry{},
            Entry(0x2807), Entry(0x0810, nullptr, 0, 0), RecordEntry{},
            Entry(0x3004, nullptr, 0, 0), Entry(0x080B, comment, 4), RecordEntry{},
            RecordEntry{}};
  }
  bool big;
  Bytes bytes, imageHeap;
  std::vector<RecordEntry> list;
  const uint8_t comment[4] = {'n', 'e', 'w', 0};
  const uint8_t numbers[12] = {7, 0, 0, 0, 8, 0, 0, 0, 9, 0, 0, 0};
  const uint8_t words[6] = {5, 0, 6, 0, 7, 0};
  const uint8_t blob[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
};

TEST(HeapMerge, ListEntriesComeFirstAndTheSourceKeepsWhatTheListDoesNotName) {
  for (bool big : {false, true}) {
    SCOPED_TRACE(big ? "MM" : "II");
    SourceCase c(big);
    const Bytes before = c.bytes;
    const HeapObject source = Bare(c.bytes, big);
    HeapObject out{};
    ASSERT_EQ(qdParseMergePropertiesIntoHeapObject(&source, c.list.data(), &out), QD_OK);
    EXPECT_EQ(c.bytes, before);

    uint32_t t = 0;
    EXPECT_EQ(Types(out.heap, out.heapLength, big, &t),
              (std::vector<uint16_t>{0x4805, 0x1834, 0x300B, 0x5817, 0x2804}));
    const uint8_t* records = out.heap + t + 2;
    const uint32_t settingsAt = GetU32(records + 20 + 6, big);
    const uint32_t settingsLength = GetU32(records + 20 + 2, big);
    uint32_t nestedT = 0;
    EXPECT_EQ(Types(out.heap + settingsAt, settingsLength, big, &nestedT),
              (std::vector<uint16_t>{0x502A, 0x1033, 0x5029}));
    // Records the list does not name are copied as they were stored.
    EXPECT_EQ(Bytes(records + 32, records + 40), (Bytes{9, 9, 8, 8, 7, 7, 6, 6}));
    const uint32_t imageAt = GetU32(records + 40 + 6, big);
    EXPECT_EQ(Bytes(out.heap + imageAt, out.heap + imageAt + c.imageHeap.size()), c.imageHeap);

    EXPECT_EQ(Read(out, {0x0805}), (Bytes{'n', 'e', 'w', 0, 0, 0, 0, 0}));
    EXPECT_EQ(Read(out, {0x1834}), Bytes(c.numbers, c.numbers + 12));
    EXPECT_EQ(Read(out, {0x300B, 0x102A}), (Bytes{5, 0, 6, 0, 7, 0, 0, 0}));
    EXPECT_EQ(Read(out, {0x300B, 0x1029}), big ? (Bytes{2, 1, 4, 3, 6, 5, 8, 7}) : (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(Read(out, {0x2804, 0x0815}), (Bytes{'J', 'P', 'E', 'G', 0, 0}));
    EXPECT_EQ(Read(out, {0x2807, 0x0810}), std::nullopt);
    qdParseFreeHeapObject(out);
  }
  EXPECT_EQ(LiveBlocks(), 0);
}

TEST(HeapMerge, FailuresLeaveTheOutputAndTheSourceAlone) {
  SourceCase c(true);
  const HeapObject source = Bare(c.bytes, true);
  HeapObject out{}, untouched{};
  std::memset(&out, 0xA5, sizeof out);
  std::memcpy(&untouched, &out, sizeof out);
  const auto merge = [&](const HeapObject* src, const RecordEntry* list) {
    return qdParseMergePropertiesIntoHeapObject(src, list, &out);
  };
  EXPECT_EQ(merge(&source, nullptr), QD_E_INVALID_ARG);
  HeapBuilder broken(true);
  broken.Data(0x0805, {1, 2, 3, 4});
  broken.OverrideTableOffset(0x40);
  Bytes brokenBytes = broken.Build();
  const HeapObject brokenSource = Bare(brokenBytes, true);
  EXPECT_EQ(merge(&brokenSource, c.list.data()), QD_E_CORRUPT);
  // A nested heap of the source is only read when the list names it.
  HeapBuilder outer(true), inner(true);
  inner.Data(0x102A, {1, 2});
  inner.OverrideOffset(1, 2);
  outer.Nested(0x300B, inner);
  Bytes outerBytes = outer.Build();
  const HeapObject nestedBroken = Bare(outerBytes, true);
  EXPECT_EQ(merge(&nestedBroken, c.list.data()), QD_E_CORRUPT);
  EXPECT_EQ(std::memcmp(&out, &untouched, sizeof out), 0);

  SweepAllocationFailures(
      [&] {
        const uint32_t r = merge(&source, c.list.data());
        if (r == QD_OK) qdParseFreeHeapObject(out);
        return r;
      },
      {QD_OK, QD_E_NO_MEMORY},
      [&](const SweepRun& run) {
        if (run.result != QD_OK) EXPECT_EQ(std::memcmp(&out, &untouched, sizeof out), 0);
      });
}

}  // namespace
}  // namespace qdtest
