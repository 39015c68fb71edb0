// The heap rewrite: caller records and single values written into a heap in
// place, in both byte orders, and the heap written back into each kind of file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <tuple>

#include "exifwrite/exif_support.h"
#include "replace/heap_rewrite.h"
#include "support/container_builder.h"
#include "support/jpeg_builder.h"
#include "support/test_stream.h"

namespace qd::replace {
namespace {

using namespace qdtest;

// With TZ=XST-2 the local clock runs two hours ahead of UTC, and 0x180E's zone field adds one.
constexpr uint32_t kClockAhead = 7200 + 3600;

struct Node { uint16_t type; Bytes data; std::vector<Node> inner = {}; };
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
// array's length field (48) covers fewer elements than it holds; the arrays'
// elements start as 0xFFFF.
struct Fixture {
  Fixture(bool be, bool dedicated) : be(be) {
    const auto array = [be](uint16_t length, size_t size) { Bytes b(size, 0xFF); PutU16(b, 0, length, be); return b; };
    std::vector<Node> top = {
        {0x1810, Bytes(28)}, {0x1817, Bytes(4)}, {0x180E, U32s({0, 3600, 0}, be)}, {0x0805, Bytes(8, 'x')},
        {0x3002, {}, {{0x1813, Bytes(8)}, {0x1818, Bytes(12)}}},
        {0x2804, {}, {{0x0805, Bytes(8, 't')}}},
        {0x2807, {}, {{0x0810, Bytes(8, 'o')}, {0x3004, {}, {{0x180B, Bytes(4)}}}}},
        {0x300B, {}, {{0x1029, Bytes(8)}, {0x1027, Bytes(12)}, {0x1028, Bytes(8)}, {0x102A, array(48, 66)},
                      {0x102D, array(92, 92)}, {0x1033, Bytes(6)}, {0x0085, Bytes(4, 'b')}, {0x1834, Bytes(4)}}}};
    if (dedicated) top.push_back({0x1026, Bytes(6)}), top[4].inner.push_back({0x1010, Bytes(4)});
    bytes = expected = BuildHeap(top, be, &at).Build();
  }
  HeapObject Object() {  // a bare heap: no header in front
    HeapObject h{};
    h.heap = bytes.data();
    h.heapLength = static_cast<uint32_t>(bytes.size());
    h.bigEndian = be ? 1 : 0;
    return h;
  }
  // In `expected`: the nth record of `type`, values of `width` bytes from `index` on.
  void Expect(uint16_t type, int nth, unsigned width, unsigned index, std::vector<uint32_t> v) {
    const auto it = std::find_if(at.begin(), at.end(), [&](auto& l) { return l.first == type && nth-- == 0; });
    ASSERT_NE(it, at.end()) << std::hex << type;
    for (size_t k = 0; k < v.size(); ++k) PutUint(expected, it->second + width * (index + k), v[k], width, be);
  }
  bool be;
  Bytes bytes, expected;
  Leaves at;
};

using Patch = std::tuple<uint16_t, int, unsigned, unsigned, std::vector<uint32_t>>;
// A record code or single-property identifier, its value, and the heap's
// records after the rewrite: the fixture's with `patches` applied.
struct Row { uint32_t what; Bytes value; std::vector<Patch> patches; bool dedicated = false; uint32_t result = QD_OK; };

template <typename Rewrite>
void RunRows(const std::vector<Row>& rows, Rewrite rewrite) {
  for (bool be : {false, true}) {
    for (const Row& row : rows) {
      SCOPED_TRACE(::testing::Message() << (be ? "MM " : "II ") << std::hex << row.what);
      Fixture f(be, row.dedicated);
      for (const Patch& p : row.patches) std::apply([&f](auto... a) { f.Expect(a...); }, p);
      EXPECT_EQ(rewrite(f.Object(), row), row.result);
      EXPECT_EQ(f.bytes, f.expected);
    }
  }
}

uint32_t Bits(float f) { return static_cast<uint32_t>(GetUint(Bytes(Le().f32(f)).data(), 4, false)); }

TEST(HeapRewrite, RecordCodesWriteTheRecordsThatHoldTheirValues) {
  RunRows({{0x01, Le().text("abcdefghij"), {{0x0805, 0, 1, 0, {'a', 'b', 'c', 'd', 'e', 'f', 'g', 0}}}},
           {0x0B, Le().u32(0).u32(0).u32(3).text("abc"), {{0x0805, 0, 1, 0, {'a', 'b', 'c', 0, 0, 0, 0, 0}}}},
           {0x02, Le().u16(7).u16(8), {{0x1010, 0, 2, 0, {7, 8}}}, true},
           {0x02, Le().u16(7).u16(8), {{0x102D, 0, 2, 5, {7}}, {0x102A, 0, 2, 9, {9}}}},
           {0x02, Le().u16(0).u16(8), {{0x102D, 0, 2, 5, {0}}, {0x102A, 0, 2, 9, {0}}}},
           {0x09, Le().u16(5), {{0x1026, 0, 2, 2, {5}}}, true},
           {0x09, Le().u16(5), {{0x102D, 0, 2, 3, {5}}}},
           {0x0F, Le().u16(6), {{0x102D, 0, 2, 4, {6}}, {0x1026, 0, 2, 0, {6}}}, true},
           {0x03, Le().u32(1).u32(2).u32(3), {{0x1027, 0, 2, 0, {1, 0, 2, 0, 3, 0}}}},  // a 16-bit record
           {0x90, Le().u32(0x00050006), {{0x1028, 0, 2, 2, {6, 5}}}},
           {0x07, Le().u32(90).u16(0), {{0x1810, 0, 4, 3, {90}}}},
           {0x07, Le().u32(90).u16(1), {}},  // mirrored
           {0x0C, Le().u16(100), {{0x102A, 0, 2, 2, {160}}}},
           {0x11, Le().u16(77), {}},  // element 24 lies just beyond the array's length (48 bytes)
           {0x0D, Le().u16(1).u16(2).u8(3), {{0x1033, 0, 2, 0, {1, 2}}}},  // whole values only
           {0x3A, Le().u32(0x12345678).u16(1), {{0x1834, 0, 4, 0, {0x12345678}}}},  // cut to fit
           {0x1B, Le().u32(1), {}}},  // not this path's
          [](const auto& h, const auto& r) {
            return RewriteHeap(h, nullptr, nullptr, nullptr, Records({{uint16_t(r.what), r.value}}).list());
          });
}

TEST(HeapRewrite, ImageCaptureAndShotRecords) {
  setenv("TZ", "XST-2", 1), tzset();
  ExifImageInfo image = Image("model", 640, 480);
  image.bitsPerSample = 8, image.bitsPerPixel = 24, image.colour = 1, image.aspect = 1.5f;
  ExifCaptureInfo capture{1000000, 42, "Ann", "image type"};
  const ExifShotValues shot{5.0f, 7.5f, -0.5f, 1.0f, 0xFFFF, 0xFF};
  RunRows({{0, {}, {{0x1810, 0, 4, 0, {640, 480, Bits(1.5f), 0, 8, 24}}, {0x1810, 0, 1, 24, {1}},  // either order
                    {0x180E, 0, 4, 0, {1000000 + kClockAhead}}, {0x1817, 0, 4, 0, {42}},
                    {0x0810, 0, 1, 0, {'A', 'n', 'n', 0, 0, 0, 0, 0}},
                    {0x0805, 1, 1, 0, {'i', 'm', 'a', 'g', 'e', ' ', 't', 'y'}},
                    {0x1818, 0, 4, 0, {Bits(-0.5f), Bits(7.5f), Bits(5.0f)}}, {0x1813, 0, 4, 0, {Bits(1.0f)}},
                    {0x102A, 0, 2, 4, {160, 240, 0xFFF0}}}}},
          [&](const auto& h, const auto&) { return RewriteHeap(h, &image, &capture, &shot, nullptr); });
}

TEST(HeapRewrite, SingleRecordsByIdentifier) {
  setenv("TZ", "XST-2", 1), tzset();
  RunRows({{0x00001817, Le().u32(0x11223344), {{0x1817, 0, 4, 0, {0x11223344}}}},
           {0x0050102A, Le().u16(1).u8(2), {{0x102A, 0, 2, 0, {1}}, {0x102A, 0, 2, 1, std::vector<uint32_t>(32)}}},
           {0x0040180B, Le().u32(9).u32(10), {{0x180B, 0, 4, 0, {9}}}},
           {0x00200805, Le().text("abc"), {{0x0805, 1, 1, 0, {'a', 'b', 'c', 0, 0, 0, 0, 0}}}},
           {0x1100180E, Le().u32(1000), {{0x180E, 0, 4, 0, {1000 + kClockAhead}}}},
           {0x0200180E, Le().u32(1000), {}, false, QD_E_NOT_APPLICABLE},
           {0x0060180B, Le().u32(9), {}, false, QD_E_NOT_APPLICABLE},  // no sixth heap
           {0x0010180B, Le().u32(9), {}, false, QD_E_NOT_APPLICABLE},  // not in that heap
           {0x00003002, Le().u32(9), {}, false, QD_E_NOT_APPLICABLE}},  // a heap is no value
          [](const auto& h, const auto& r) { return RewriteHeapRecord(h, r.what, TestStream(r.value).stream()); });
  EXPECT_EQ(RewriteHeapRecord(Fixture(false, false).Object(), 0x00001817, nullptr), QD_E_INVALID_ARG);
}

TEST(HeapRewrite, WriteBackPutsTheHeapWhereItCameFrom) {
  for (bool be : {false, true}) {
    SCOPED_TRACE(be ? "MM" : "II");
    const Bytes jpeg = EncodeJpeg();
    const Bytes files[] = {HeapFileFixture(be), BuildTiffFile(RawTiffShape(be ? Order::MM : Order::II)).bytes,
                           Insert(jpeg, SegmentOffset(jpeg, marker::kDQT), {HeapApp0(EmbeddedHeapImage(be, "JPGM"))})};
    HeapBuilder root(be);
    root.Nested(0x300A, HeapBuilder(be));  // an image-properties heap of another length
    TiffShape smaller = RawTiffShape(be ? Order::MM : Order::II);
    smaller.heap = Bytes(30, 0);  // a heap that grew must not overwrite what follows
    // Into the file itself, and into files without the room for it.
    const std::tuple<Bytes, Bytes, Status> rows[] = {
        {files[0], files[0], ST_OK}, {files[1], files[1], ST_OK}, {files[2], files[2], ST_OK},
        {files[0], HeapFileBuilder(root).Build(), ST_SIZE_MISMATCH}, {files[0], Bytes(600, 'x'), ST_UNSUPPORTED},
        {files[1], Bytes(397, 0), ST_NOT_FOUND}, {files[1], BuildTiffFile(TiffShape{}).bytes, ST_NOT_FOUND},
        {files[1], BuildTiffFile(smaller).bytes, ST_SIZE_MISMATCH},
        // Where recognition found the APP0 a scan begins: image data, not ours.
        {files[2],
         Insert(jpeg, SegmentOffset(jpeg, marker::kDQT), {{0xFF, 0xDA, 0, 2}, HeapApp0(EmbeddedHeapImage(be, "JPGM"))}),
         ST_UNSUPPORTED}};
    for (const auto& [file, bytes, status] : rows) {
      TestStream source(file), target(bytes);
      StreamPort in, out;
      MakeStreamPort(source.stream(), &in);
      MakeStreamPort(target.stream(), &out);
      Recognition r;
      ASSERT_EQ(r.Run(in), ST_OK);
      const Bytes before(r.heap.block, r.heap.block + r.heap.headerLength + r.heap.heapLength);
      ExifCaptureInfo capture{0, 0xA1B2C3D4, "someone else", ""};  // file number and owner
      ASSERT_EQ(RewriteHeap(r.heap, nullptr, &capture, nullptr, nullptr), QD_OK);
      const Bytes after(r.heap.block, r.heap.block + before.size());
      ASSERT_NE(before, after);
      Bytes expected = bytes;  // the file with the new heap where the old one was
      const auto at = std::search(expected.begin(), expected.end(), before.begin(), before.end());
      ASSERT_TRUE(status != ST_OK || at != expected.end());
      if (status == ST_OK) std::copy(after.begin(), after.end(), at);
      EXPECT_EQ(WriteBackHeap(out, r), status);
      EXPECT_EQ(target.data(), expected);
    }
  }
}

}  // namespace
}  // namespace qd::replace
