// The heap rewrite: caller records and single values written into a heap in
// place, in both byte orders, and the heap written back into each kind of file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>

#include "container/recognize.h"
#include "exifwrite/exif_support.h"
#include "replace/heap_rewrite.h"
#include "support/container_builder.h"
#include "support/jpeg_builder.h"
#include "support/test_stream.h"

namespace qd::replace {
namespace {

using namespace qdtest;

// The local clock runs two hours ahead of UTC, and 0x180E's zone field adds one.
constexpr uint32_t kClockAhead = 7200 + 3600;

struct Node {
  uint16_t type;
  Bytes data;
  std::vector<Node> inner = {};
};
using Leaves = std::vector<std::pair<uint16_t, uint32_t>>;  // type, offset in the heap

HeapBuilder BuildHeap(const std::vector<Node>& nodes, bool be, Leaves* leaves) {
  HeapBuilder h(be);
  for (const Node& n : nodes) {
    Leaves sub;
    const uint16_t i = n.inner.empty() ? h.Data(n.type, n.data) : h.Nested(n.type, BuildHeap(n.inner, be, &sub));
    if (n.inner.empty()) sub.push_back({n.type, 0});
    for (const auto& [type, at] : sub) leaves->push_back({type, h.DataOffset(i) + at});
  }
  return h;
}

// Every record the rewrite writes, nested as in a file; 0x1010 and 0x1026,
// which take precedence over the arrays, only when `dedicated`. The shot-info
// array's length field (40) covers fewer elements than it holds; the arrays'
// elements start as 0xFFFF.
struct Fixture {
  Fixture(bool be, bool dedicated) : be(be) {
    Bytes shot = U16s({40}, be), settings = U16s({92}, be);
    shot.resize(66, 0xFF);
    settings.resize(92, 0xFF);
    std::vector<Node> top = {
        {0x1810, Bytes(28)}, {0x1817, Bytes(4)}, {0x180E, U32s({0, 3600, 0}, be)}, {0x0805, Bytes(8, 'x')},
        {0x3002, {}, {{0x1813, Bytes(8)}, {0x1818, Bytes(12)}}},
        {0x2804, {}, {{0x0805, Bytes(8, 't')}}},
        {0x2807, {}, {{0x0810, Bytes(8, 'o')}, {0x3004, {}, {{0x180B, Bytes(4)}}}}},
        {0x300B, {}, {{0x1029, Bytes(8)}, {0x1027, Bytes(12)}, {0x1028, Bytes(8)}, {0x102A, shot},
                      {0x102D, settings}, {0x1033, Bytes(6)}, {0x0085, Bytes(4, 'b')}, {0x1834, Bytes(4)}}}};
    if (dedicated) {
      top.push_back({0x1026, Bytes(6)});
      top[4].inner.push_back({0x1010, Bytes(4)});
    }
    bytes = expected = BuildHeap(top, be, &at).Build();
  }
  HeapObject Object() {
    HeapObject h{};
    h.heap = bytes.data();
    h.heapLength = static_cast<uint32_t>(bytes.size());
    h.bigEndian = be ? 1 : 0;
    return h;
  }
  // In `expected`: the nth record of `type`, values of `width` bytes from `index` on.
  void Expect(uint16_t type, int nth, unsigned width, unsigned index, const std::vector<uint32_t>& values) {
    const auto it = std::find_if(at.begin(), at.end(), [&](const auto& l) { return l.first == type && nth-- == 0; });
    ASSERT_NE(it, at.end()) << std::hex << type;
    for (size_t k = 0; k < values.size(); ++k) PutUint(expected, it->second + width * (index + k), values[k], width, be);
  }
  bool be;
  Bytes bytes, expected;
  Leaves at;
};

struct Patch {
  uint16_t type;
  int nth;
  unsigned width, index;
  std::vector<uint32_t> values;
};

uint32_t Bits(float f) { return GetUint(Bytes(Le().f32(f)).data(), 4, false); }

class HeapRewrite : public ::testing::Test {
 protected:
  void SetUp() override { Zone("XST-2"); }
  void TearDown() override { Zone("UTC"); }
  static void Zone(const char* tz) {
    setenv("TZ", tz, 1);
    tzset();
  }
};

TEST_F(HeapRewrite, RecordCodesWriteTheRecordsThatHoldTheirValues) {
  const Bytes coded = Le().text("ASCII").u8(0).u16(0).u32(3).text("abc");
  const struct {
    uint16_t code;
    Bytes payload;
    bool dedicated;
    std::vector<Patch> patches;
  } rows[] = {
      {0x01, Le().text("hello"), false, {{0x0805, 0, 1, 0, {'h', 'e', 'l', 'l', 'o', 0, 0, 0}}}},
      {0x01, Le().text("abcdefghij"), false, {{0x0805, 0, 1, 0, {'a', 'b', 'c', 'd', 'e', 'f', 'g', 0}}}},
      {0x0B, coded, false, {{0x0805, 0, 1, 0, {'a', 'b', 'c', 0, 0, 0, 0, 0}}}},
      {0x02, Le().u16(7).u16(8), true, {{0x1010, 0, 2, 0, {7, 8}}}},
      {0x02, Le().u16(7).u16(8), false, {{0x102D, 0, 2, 5, {7}}, {0x102A, 0, 2, 9, {9}}}},
      {0x02, Le().u16(0).u16(8), false, {{0x102D, 0, 2, 5, {0}}, {0x102A, 0, 2, 9, {0}}}},
      {0x09, Le().u16(5), true, {{0x1026, 0, 2, 2, {5}}}},
      {0x09, Le().u16(5), false, {{0x102D, 0, 2, 3, {5}}}},
      {0x0F, Le().u16(6), true, {{0x102D, 0, 2, 4, {6}}, {0x1026, 0, 2, 0, {6}}}},
      {0x0F, Le().u16(6), false, {{0x102D, 0, 2, 4, {6}}}},
      {0x03, Le().u32(1).u32(2).u32(3), false, {{0x1027, 0, 2, 0, {1, 0, 2, 0, 3, 0}}}},
      {0x04, Le().u16(1).u16(2).u16(3).u16(4), false, {{0x1029, 0, 2, 0, {1, 2, 3, 4}}}},
      {0x90, Le().u32(0x00050006), false, {{0x1028, 0, 2, 2, {6, 5}}}},
      {0x0E, Le().u32(0x01020304), false, {{0x180B, 0, 4, 0, {0x01020304}}}},
      {0x07, Le().u32(90).u16(0), false, {{0x1810, 0, 4, 3, {90}}}},
      {0x07, Le().u32(90).u16(1), false, {}},
      {0x0C, Le().u16(100), false, {{0x102A, 0, 2, 2, {160}}}},
      {0x0A, Le().u16(6).u16(11).u16(12), false, {{0x102D, 0, 2, 10, {11, 12}}}},
      {0x11, Le().u16(77), false, {}},  // element 24 lies beyond the array's length
      {0x0D, Le().u16(1).u16(2).u16(3).u16(4), false, {{0x1033, 0, 2, 0, {1, 2, 3}}}},
      {0x21, Le().u8(9).u8(8).u8(7), false, {{0x0085, 0, 1, 0, {9, 8, 7}}}},
      {0x3A, Le().u16(0x1234), false, {}},  // half a 32-bit value
      {0x3A, Le().u32(0x12345678), false, {{0x1834, 0, 4, 0, {0x12345678}}}},
      {0x1B, Le().u32(1), false, {}},
  };
  for (bool be : {false, true}) {
    for (const auto& row : rows) {
      SCOPED_TRACE(::testing::Message() << (be ? "MM" : "II") << " code " << std::hex << row.code);
      Fixture f(be, row.dedicated);
      for (const Patch& p : row.patches) f.Expect(p.type, p.nth, p.width, p.index, p.values);
      Records records({{row.code, row.payload}});
      ASSERT_EQ(RewriteHeap(f.Object(), nullptr, nullptr, nullptr, records.list()), QD_OK);
      EXPECT_EQ(f.bytes, f.expected);
    }
  }
}

TEST_F(HeapRewrite, ImageCaptureAndShotRecords) {
  for (bool be : {false, true}) {
    SCOPED_TRACE(be ? "MM" : "II");
    Fixture f(be, false);
    ExifImageInfo image = Image("model", 640, 480);
    image.bitsPerSample = 8, image.bitsPerPixel = 24, image.colour = 1, image.aspect = 1.5f;
    ExifCaptureInfo capture{1000000, 42, "Ann", "image type"};
    const ExifShotValues shot{5.0f, 7.5f, -0.5f, 1.0f, 0xFFFF, 0xFF};
    ASSERT_EQ(RewriteHeap(f.Object(), &image, &capture, &shot, nullptr), QD_OK);
    f.Expect(0x1810, 0, 4, 0, {640, 480, Bits(1.5f), 0, 8, 24});
    f.Expect(0x1810, 0, 1, 24, {1});  // the flags word's first byte in either order
    f.Expect(0x180E, 0, 4, 0, {1000000 + kClockAhead});
    f.Expect(0x1817, 0, 4, 0, {42});
    f.Expect(0x0810, 0, 1, 0, {'A', 'n', 'n', 0, 0, 0, 0, 0});
    f.Expect(0x0805, 1, 1, 0, {'i', 'm', 'a', 'g', 'e', ' ', 't', 'y'});
    f.Expect(0x1818, 0, 4, 0, {Bits(-0.5f), Bits(7.5f), Bits(5.0f)});
    f.Expect(0x1813, 0, 4, 0, {Bits(1.0f)});
    f.Expect(0x102A, 0, 2, 4, {160, 240, 0xFFF0});
    EXPECT_EQ(f.bytes, f.expected);
  }
}

TEST_F(HeapRewrite, SingleRecordsByIdentifier) {
  const struct {
    uint32_t id;
    Bytes value;
    uint32_t result;
    std::vector<Patch> patches;
  } rows[] = {
      {0x00001817, Le().u32(0x11223344), QD_OK, {{0x1817, 0, 4, 0, {0x11223344}}}},
      {0x0050102A, Le().u16(1).u8(2), QD_OK, {{0x102A, 0, 2, 0, {1}}, {0x102A, 0, 2, 1, std::vector<uint32_t>(32)}}},
      {0x0040180B, Le().u32(9).u32(10), QD_OK, {{0x180B, 0, 4, 0, {9}}}},
      {0x00200805, Le().text("abc"), QD_OK, {{0x0805, 1, 1, 0, {'a', 'b', 'c', 0, 0, 0, 0, 0}}}},
      {0x00000805, Le().text("abc"), QD_OK, {{0x0805, 0, 1, 0, {'a', 'b', 'c', 0, 0, 0, 0, 0}}}},
      {0x1100180E, Le().u32(1000), QD_OK, {{0x180E, 0, 4, 0, {1000 + kClockAhead}}}},
      {0x0200180E, Le().u32(1000), QD_E_NOT_APPLICABLE, {}},
      {0x0060180B, Le().u32(9), QD_E_NOT_APPLICABLE, {}},   // no sixth heap
      {0x0010180B, Le().u32(9), QD_E_NOT_APPLICABLE, {}},   // not in that heap
      {0x00003002, Le().u32(9), QD_E_NOT_APPLICABLE, {}},   // a heap is no value
  };
  for (bool be : {false, true}) {
    for (const auto& row : rows) {
      SCOPED_TRACE(::testing::Message() << (be ? "MM" : "II") << " id " << std::hex << row.id);
      Fixture f(be, false);
      for (const Patch& p : row.patches) f.Expect(p.type, p.nth, p.width, p.index, p.values);
      TestStream value(row.value);
      EXPECT_EQ(RewriteHeapRecord(f.Object(), row.id, value.stream()), row.result);
      EXPECT_EQ(f.bytes, f.expected);
    }
  }
  Fixture f(false, false);
  EXPECT_EQ(RewriteHeapRecord(f.Object(), 0x00001817, nullptr), QD_E_INVALID_ARG);
}

// Recognises `file`, changes the file number and writes the heap back into `target`.
Status RewriteInto(const Bytes& file, TestStream& target, Bytes* before, Bytes* after) {
  TestStream source(file);
  StreamPort port;
  MakeStreamPort(source.stream(), &port);
  Recognition r;
  EXPECT_EQ(r.Run(port), ST_OK);
  const uint8_t* image = r.heap.block;
  const uint32_t length = r.heap.headerLength + r.heap.heapLength;
  *before = Bytes(image, image + length);
  ExifCaptureInfo capture{0, 0xA1B2C3D4, "someone else", ""};
  EXPECT_EQ(RewriteHeap(r.heap, nullptr, &capture, nullptr, nullptr), QD_OK);
  *after = Bytes(image, image + length);
  MakeStreamPort(target.stream(), &port);
  return WriteBackHeap(port, r);
}

TEST_F(HeapRewrite, WriteBackPutsTheHeapWhereItCameFrom) {
  for (bool be : {false, true}) {
    SCOPED_TRACE(be ? "MM" : "II");
    const Bytes jpeg = EncodeJpeg();
    const Bytes files[] = {HeapFileFixture(be), BuildTiffFile(RawTiffShape(be ? Order::MM : Order::II)).bytes,
                           Insert(jpeg, SegmentOffset(jpeg, marker::kDQT), {HeapApp0(EmbeddedHeapImage(be, "JPGM"))})};
    for (const Bytes& file : files) {
      TestStream target(file);
      Bytes before, after, expected = file;
      ASSERT_EQ(RewriteInto(file, target, &before, &after), ST_OK);
      ASSERT_NE(before, after);
      const auto at = std::search(expected.begin(), expected.end(), before.begin(), before.end());
      ASSERT_NE(at, expected.end());
      std::copy(after.begin(), after.end(), at);
      EXPECT_EQ(target.data(), expected);
    }
    // Into files without room for it: nothing written.
    HeapBuilder longer = ImagePropertiesHeap(be);
    longer.Data(0x1834, Bytes(4));
    HeapBuilder root(be);
    root.Nested(0x300A, longer);
    TiffShape plain = RawTiffShape(Order::II);
    plain.heap.reset();
    const struct {
      Bytes file, target;
      Status status;
    } failures[] = {
        {HeapFileFixture(be), HeapFileBuilder(root).Build(), ST_SIZE_MISMATCH},
        {HeapFileFixture(be), Bytes(600, 'x'), ST_UNSUPPORTED},
        {files[1], Bytes(397, 0), ST_NOT_FOUND},
        {files[1], BuildTiffFile(plain).bytes, ST_NOT_FOUND},
    };
    for (const auto& row : failures) {
      TestStream target(row.target);
      Bytes before, after;
      EXPECT_EQ(RewriteInto(row.file, target, &before, &after), row.status);
      EXPECT_TRUE(target.writes().empty());
    }
  }
}

}  // namespace
}  // namespace qd::replace
