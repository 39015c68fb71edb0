// Merging entry lists into heap objects, read back through the record walk.
#include <cstring>

#include "heapobj/heapobj_support.h"

namespace qdtest {
namespace {

// A source heap as the merge takes it (no header block).
HeapObject Bare(Bytes& heap, bool big) {
  return HeapObject{nullptr, 0, 0x00010006, {}, heap.data(), uint32_t(heap.size()), uint16_t(big)};
}

// A source with a comment, free space and two nested heaps. The list replaces
// the comment, adds a 9-byte 32-bit record, merges into one nested heap and
// names two nested heaps that end up empty; entries of the table's own unused
// and free-space types add nothing. Sizes round to whole values of the
// record's kind, up to 8 bytes stay in the record (type bit 0x4000), and values
// are stored in the source's order.
TEST(HeapMerge, ListEntriesComeFirstAndTheSourceKeepsWhatTheListDoesNotName) {
  const uint8_t comment[4] = {'n', 'e', 'w', 0}, numbers[9] = {7, 0, 0, 0, 8, 0, 0, 0, 0};
  const uint8_t words[8] = {5, 0, 6, 0, 7, 0, 8, 0}, blob[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  const RecordEntry list[] = {Entry(0x0001, blob, 10), Entry(0x0805, comment, 4),
                              Entry(0x1834, numbers, 9),
                              Entry(0x300B), Entry(0x102A, words, 8), Entry(0x1033, blob, 10),
                              Entry(0x1031, nullptr, 0, 0), RecordEntry{},
                              Entry(0x2807), Entry(0x0810, nullptr, 0, 0), RecordEntry{},
                              Entry(0x3004, nullptr, 0, 0), Entry(0x080B, comment, 4),
                              RecordEntry{}, RecordEntry{}};
  for (bool big : {false, true}) {
    SCOPED_TRACE(big ? "MM" : "II");
    HeapBuilder settings(big), image(big), root(big);
    settings.InRecord(0x1029, {1, 2, 3, 4, 5, 6, 7, 8});
    settings.Data(0x102A, U16s({1, 2, 3, 4, 5, 6}, big));
    image.Data(0x0815, {'J', 'P', 'E', 'G', 0, 0});
    root.Data(0x0805, {'o', 'l', 'd', 0});
    root.Free(4);
    root.Nested(0x300B, settings);
    root.Nested(0x2804, image);
    Bytes bytes = root.Build();
    const Bytes before = bytes;
    const HeapObject source = Bare(bytes, big);
    HeapObject out{};
    ASSERT_EQ(qdParseMergePropertiesIntoHeapObject(&source, list, &out), QD_OK);
    EXPECT_EQ(bytes, before);
    EXPECT_EQ(out.block[0], big ? 'M' : 'I');
    EXPECT_EQ(+out.version, 0x00010006u);
    // Data 12 + settings 46 (data 10, three records) + image 22, four records.
    EXPECT_EQ(+out.heapLength, 12u + 46 + 22 + 2 + 4 * 10 + 4);
    const uint8_t* table = out.heap + GetU32(out.heap + out.heapLength - 4, big);
    std::vector<uint16_t> types;
    for (int i = 0; i < GetU16(table, big); ++i) types.push_back(GetU16(table + 2 + 10 * i, big));
    EXPECT_EQ(types, (std::vector<uint16_t>{0x4805, 0x1834, 0x300B, 0x2804}));
    EXPECT_EQ(Read(out, {0x0805}), (Bytes{'n', 'e', 'w', 0, 0, 0, 0, 0}));
    EXPECT_EQ(Read(out, {0x1834}), (Bytes{7, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Read(out, {0x300B, 0x102A}), Bytes(words, words + 8));
    EXPECT_EQ(Read(out, {0x300B, 0x1033}), Bytes(blob, blob + 10));
    EXPECT_EQ(Read(out, {0x300B, 0x1029}),
              big ? (Bytes{2, 1, 4, 3, 6, 5, 8, 7}) : (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(Read(out, {0x2804, 0x0815}), (Bytes{'J', 'P', 'E', 'G', 0, 0}));
    qdParseFreeHeapObject(out);
  }
}

TEST(HeapMerge, FailuresLeaveTheOutputAlone) {
  HeapObject out, untouched;
  std::memset(&out, 0xA5, sizeof out);
  std::memcpy(&untouched, &out, sizeof out);
  HeapBuilder broken(true), outer(true), inner(true);
  broken.Data(0x0805, {1, 2, 3, 4});
  broken.OverrideTableOffset(0x40);
  // A nested heap of the source is only read when the list names it.
  inner.Data(0x102A, {1, 2});
  inner.OverrideOffset(1, 2);
  outer.Nested(0x300B, inner);
  Bytes brokenBytes = broken.Build(), outerBytes = outer.Build();
  HeapObject noHeap = Bare(brokenBytes, true);
  noHeap.heap = nullptr;
  const RecordEntry list[] = {Entry(0x300B), Entry(0x102A), RecordEntry{}, RecordEntry{}};
  for (const HeapObject& source : {Bare(brokenBytes, true), Bare(outerBytes, true), noHeap}) {
    EXPECT_EQ(qdParseMergePropertiesIntoHeapObject(&source, list, &out),
              source.heap != nullptr ? QD_E_CORRUPT : QD_E_INVALID_ARG);
  }
  // Nesting past 64 levels, and more records than a table counts.
  std::vector<RecordEntry> deep(66, Entry(0x300B)), wide(0x10000, Entry(0x0805));
  deep.resize(deep.size() + 68, RecordEntry{});
  wide.push_back(RecordEntry{});
  for (const auto* entries : {&deep, &wide}) {
    EXPECT_EQ(qdParseMergePropertiesIntoHeapObject(nullptr, entries->data(), &out),
              QD_E_INVALID_ARG);
  }
  EXPECT_EQ(std::memcmp(&out, &untouched, sizeof out), 0);
  EXPECT_EQ(LiveBlocks(), 0);
}

}  // namespace
}  // namespace qdtest
