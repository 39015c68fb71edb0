// The JPEG probes: which application block a file's properties come from, the
// extensions taken beside it, the frame header, the collecting walk, and input
// made to mislead the marker walk.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "format/file_kind.h"
#include "frame/memory_block.h"
#include "frame/status.h"
#include "support/fault_sweep.h"
#include "support/heap_builder.h"
#include "support/jpeg_builder.h"
#include "support/test_stream.h"
#include "support/tiff_builder.h"
#include "tiffjpeg/jpeg_segments.h"

namespace qdtest {
namespace {

using namespace marker;
using Nums = std::vector<uint32_t>;

enum class Walk { Probe, Collecting };

bool AllZero(const void* p, size_t n) {
  const auto* b = static_cast<const uint8_t*>(p);
  return std::all_of(b, b + n, [](uint8_t v) { return v == 0; });
}
Bytes Block(const uint8_t* p, uint32_t n) { return p == nullptr ? Bytes{} : Bytes(p, p + n); }

// Every output of either probe, poisoned before the run and released after.
struct Probed {
  explicit Probed(Walk w, bool wantSegments = true) : walk(w), want(wantSegments) {
    for (auto [p, n] : {std::pair<void*, size_t>{&heap, sizeof heap},
                        {&exif, sizeof exif},
                        {&sof, sizeof sof},
                        {&jfif, sizeof jfif},
                        {&ext, walk == Walk::Probe ? sizeof ext : 0},
                        {&segments, want && walk == Walk::Collecting ? sizeof segments : 0}}) {
      std::memset(p, 0xA5, n);
    }
  }
  explicit Probed(const Bytes& bytes, Walk w = Walk::Probe, bool wantSegments = true)
      : Probed(w, wantSegments) {
    stream.data() = bytes;
    status = Run(stream);
  }
  Probed(const Probed&) = delete;
  ~Probed() {
    (void)qdParseFreeHeapObject(heap);
    (void)qdParseFreeExifBuffer(&exif);
    (void)qdParseFreeOutPutInfo(&ext);
    (void)qdParseFreeExtensionInfo(&segments);
  }
  qd::Status Run(TestStream& s) {
    qd::StreamPort port;
    qd::MakeStreamPort(s.stream(), &port);
    if (walk == Walk::Probe)
      return qd::jpeg::ProbeJpeg(port, &heap, &exif, &sof, &jfif, &ext, &kind);
    return qd::jpeg::ProbeJpegCollecting(port, &heap, &exif, &sof, &jfif,
                                         want ? &segments : nullptr, &kind);
  }
  // What a failed run leaves: the tail of the JFIF record is the caller's, and
  // a walk that read the frame and then refused the block keeps the frame.
  bool Cleared(bool frameKept = false) const {
    const bool frame =
        frameKept ? sof.found == 1
                  : AllZero(&sof, sizeof sof) && AllZero(&jfif, offsetof(JfifInfo, reserved2));
    return frame && AllZero(&heap, sizeof heap) && AllZero(&exif, sizeof exif) &&
           jfif.reserved2[0] == 0xA5 && AllZero(&ext, sizeof ext) &&
           AllZero(&segments, sizeof segments) && kind == qd::kKindNone;
  }
  Bytes Exif() const { return Block(exif.segment, qd::BlockLength(exif.segment)); }

  Walk walk;
  bool want;
  HeapObject heap;
  TiffBlockInfo exif;
  JpegSofInfo sof;
  JfifInfo jfif;
  OutPutInfo ext{};
  ExtensionInfo segments{};
  uint16_t kind = 0x1234;
  TestStream stream;
  qd::Status status = qd::ST_OK;
};

// Exif with a value larger than the reader's buffer, so the block is read past it.
Bytes ExifPayload(Order order, const char* signature = "Exif", uint8_t fill = 0x5A) {
  TiffBuilder tb(order);
  tb.NewIfd().Ascii(0x010F, "Maker").Undefined(0x02BC, Bytes(1500, fill));
  return App1Payload(tb.Build().bytes, signature);
}

Bytes HeapFile(bool bigEndian, const std::string& subtype = "JPGM") {
  HeapBuilder root(bigEndian);
  root.Data(0x0805, {'c', 'o', 'm', 'm', 'e', 'n', 't', 0});
  return HeapFileBuilder(root).Subtype(subtype).Build();
}

const Bytes kIcc(40, 0x21);
const Bytes kIim = Bytes{0x1C, 0x02, 0x00, 0x00, 0x02, 0x00, 0x04, 0x1C, 0x02, 0x78, 0x00};

// Segments after the JFIF header (or after SOI without one), before DQT.
size_t InsertionPoint(const JpegShape& shape = {}) {
  return SegmentOffset(EncodeJpeg(shape), kDQT);
}
Bytes WithSegments(std::initializer_list<Bytes> segments, const JpegShape& shape = {}) {
  return Insert(EncodeJpeg(shape), InsertionPoint(shape), segments);
}
const JpegShape kBare = [] {
  JpegShape s;
  s.jfif = false;
  return s;
}();

// The frame header of `jpeg`, which holds the encoder's image with bytes
// inserted only in front of the frame.
void ExpectSof(const JpegSofInfo& sof, const Bytes& jpeg, const JpegShape& shape = {}) {
  const Bytes image = EncodeJpeg(shape);
  const size_t at =
      jpeg.size() - image.size() + SegmentOffset(image, shape.progressive ? kSOF2 : kSOF0);
  EXPECT_EQ((Nums{sof.found, sof.position, sof.length, sof.components, sof.width, sof.height}),
            (Nums{1, static_cast<uint32_t>(at + 2), 8u + 3 * shape.components, shape.components,
                  shape.width, shape.height}));
}

// JFIF, then an Exif (or "LoLe") APP1 is kind 3, a heap APP0 kind 1.
TEST(JpegProbe, TakesTheJfifHeaderAndTheExifOrHeapBlock) {
  for (Order order : {Order::II, Order::MM}) {
    const bool be = order == Order::MM;
    for (const Bytes& payload : {ExifPayload(order), ExifPayload(order, "LoLe"), HeapFile(be)}) {
      const bool heap = payload[0] == (be ? 'M' : 'I');
      SCOPED_TRACE(testing::Message() << be << heap << payload[0]);
      const Bytes jpeg = WithSegments({heap ? HeapApp0(payload) : App1(payload)});
      Probed r(jpeg);
      ASSERT_EQ(r.status, qd::ST_OK);
      EXPECT_EQ(r.kind, heap ? qd::kKindJpegHeap : qd::kKindExifJpeg);
      EXPECT_EQ((Nums{r.jfif.found, r.jfif.position, r.jfif.length, r.jfif.version, r.jfif.units,
                      r.jfif.xDensity, r.jfif.yDensity, r.jfif.reserved2[0]}),
                (Nums{1, 4, 16, kJfifVersion, kJfifUnits, kJfifXDensity, kJfifYDensity, 0xA5}));
      ExpectSof(r.sof, jpeg);
      EXPECT_TRUE(AllZero(&r.ext, sizeof r.ext) &&
                  AllZero(heap ? (void*)&r.exif : &r.heap, sizeof r.exif));
      const uint8_t* block = heap ? r.heap.block : r.exif.segment;
      EXPECT_EQ(Block(block, qd::BlockLength(block)), payload);
      const Nums got =
          heap ? Nums{r.heap.headerLength, r.heap.heapLength, r.heap.bigEndian}
               : Nums{uint32_t(r.exif.segmentOffset), r.exif.tiffSize, r.exif.byteOrder};
      EXPECT_EQ(got, (heap ? Nums{26, uint32_t(payload.size() - 26), be}
                           : Nums{uint32_t(SegmentOffset(jpeg, kAPP1)),
                                  uint32_t(payload.size() - 6), be}));
      EXPECT_EQ(heap ? static_cast<uint8_t*>(r.heap.heap) : r.exif.tiff, block + (heap ? 26 : 6));
    }
  }
}

// A declined run leaves every output cleared and nothing allocated; a walk
// that read the frame and then refused the block keeps the frame. A TIFF mark
// at the start is refused; no SOI is required otherwise.
TEST(JpegProbe, DeclinesFilesWithoutAnExifOrHeapBlockBeforeTheFrame) {
  const Bytes image = EncodeJpeg(), exif = App1(ExifPayload(Order::II));
  Bytes badMark = ExifPayload(Order::II);
  badMark[7] = 'M';  // "IM"
  const struct {
    const char* what;
    Bytes jpeg;
    bool frameKept;
    qd::Status status;
  } rows[] = {
      {"an APP0 that is not JFIF",
       WithSegments({Segment(kAPP0, Bytes{'A', 'V', 'I', '1', 0})}, kBare), false,
       qd::ST_UNSUPPORTED},
      {"a heap of another subtype", WithSegments({HeapApp0(HeapFile(false, "CCDR"))}), true,
       qd::ST_UNSUPPORTED},
      {"APP1 without a signature", WithSegments({App1(Bytes{'h', 't', 't', 'p', 0})}), true,
       qd::ST_UNSUPPORTED},
      {"Exif without a byte-order mark", WithSegments({App1(badMark)}), true, qd::ST_UNSUPPORTED},
      {"Exif ending in its signature", WithSegments({App1(Bytes{'E', 'x', 'i', 'f', 0, 0, 'I'})}),
       true, qd::ST_UNSUPPORTED},
      {"no frame header", Concat({{0xFF, kSOI}, exif, {0xFF, kEOI}}), false, qd::ST_UNSUPPORTED},
      {"II first", Insert(WithSegments({exif}), 0, {{'I', 'I'}}), false, qd::ST_UNSUPPORTED},
      {"one byte", Bytes(1, 'I'), false, qd::ST_PAST_END},
  };
  for (const auto& row : rows) {
    for (Walk walk : {Walk::Probe, Walk::Collecting}) {
      SCOPED_TRACE(testing::Message() << row.what << (walk == Walk::Probe ? "" : ", collecting"));
      const int64_t live = LiveBlocks();
      {
        Probed r(row.jpeg, walk);
        EXPECT_EQ(r.status, row.status);
        EXPECT_TRUE(r.Cleared(row.frameKept));
      }
      EXPECT_EQ(LiveBlocks(), live);
    }
  }
  Probed afterFrame(Insert(image, SegmentOffset(image, kDHT), {exif}));
  EXPECT_EQ(afterFrame.status, qd::ST_UNSUPPORTED);
  Probed noSoi(Insert(WithSegments({exif}), 0, {{'I', 'M'}}));
  EXPECT_EQ(noSoi.kind, qd::kKindExifJpeg);
}

// Only an Exif block ends the search for one: a later Exif replaces an APP1
// without one or a heap, and the replaced block is released. The first
// single-chunk ICC profile and the first IIM block in front of the frame are
// taken beside it.
TEST(JpegProbe, WhichBlocksAreTaken) {
  const Bytes first = ExifPayload(Order::II, "Exif", 0x11),
              second = ExifPayload(Order::MM, "Exif", 0x22);
  const Bytes exif = App1(first), icc = IccApp2(1, 1, kIcc), iim = IimApp13(kIim),
              withExif = WithSegments({exif});
  Bytes otherResource = iim;
  otherResource[4 + 14 + 4 + 1] = 0xED;  // resource 0x04ED instead of 0x0404
  const struct {
    const char* what;
    Bytes jpeg;
    const Bytes& taken;
    Bytes icc, iim;
  } rows[] = {
      {"a later Exif after an APP1 without one",
       WithSegments({App1({'h', 't', 't', 'p', 0}), App1(second)}),
       second,
       {},
       {}},
      {"a later Exif after a heap",
       WithSegments({HeapApp0(HeapFile(true)), App1(second)}),
       second,
       {},
       {}},
      {"the first of two Exif blocks", WithSegments({exif, App1(second)}), first, {}, {}},
      {"one of each", WithSegments({iim, icc, exif}), first, kIcc, kIim},
      {"the first of two", WithSegments({exif, icc, iim, IccApp2(1, 1, {9}), IimApp13({5, 3})}),
       first, kIcc, kIim},
      {"a profile in two chunks",
       WithSegments({exif, IccApp2(1, 2, kIcc), IccApp2(2, 2, kIcc)}),
       first,
       {},
       {}},
      {"another resource first", WithSegments({exif, otherResource}), first, {}, {}},
      {"a size past the segment",
       WithSegments({exif, IimApp13(kIim, kIim.size() + 2)}),
       first,
       {},
       {}},
      {"after the frame header",
       Insert(withExif, SegmentOffset(withExif, kDHT), {icc, iim}),
       first,
       {},
       {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const int64_t live = LiveBlocks();
    {
      Probed r(row.jpeg);
      ASSERT_EQ(r.status, qd::ST_OK);
      EXPECT_EQ(r.kind, qd::kKindExifJpeg);
      EXPECT_EQ(r.Exif(), row.taken);
      EXPECT_EQ(Block(r.ext.iccProfile, r.ext.iccProfileSize), row.icc);
      EXPECT_EQ(Block(r.ext.iim, r.ext.iimSize), row.iim);
      EXPECT_EQ(qd::BlockLength(r.ext.iccProfile) + qd::BlockLength(r.ext.iim),
                row.icc.size() + row.iim.size());
    }
    EXPECT_EQ(LiveBlocks(), live);
  }
}

// Fill bytes before a marker belong to no segment; a stuffed zero after 0xFF
// is not a marker, so its next bytes are no length. Segments with a length of
// 2 or less are passed over.
TEST(JpegProbe, FillBytesStuffedZerosAndEmptySegments) {
  const Bytes payload = ExifPayload(Order::II), stuffed{0xFF, 0x00, 0x7F, 0x00};
  for (Walk walk : {Walk::Probe, Walk::Collecting}) {
    const Bytes jpeg =
        WithSegments({stuffed, Fill(5, App1(payload)), Fill(1, IccApp2(1, 1, kIcc)), stuffed});
    Probed r(jpeg, walk);
    ASSERT_EQ(r.status, qd::ST_OK);
    EXPECT_EQ(r.Exif(), payload);
    EXPECT_EQ(r.exif.segmentOffset, InsertionPoint() + stuffed.size() + 5)
        << "the 0xFF before APP1";
    EXPECT_EQ(walk == Walk::Probe ? Block(r.ext.iccProfile, r.ext.iccProfileSize)
                                  : Block(r.segments.buffer, r.segments.size),
              walk == Walk::Probe ? kIcc : IccApp2(1, 1, kIcc));
    ExpectSof(r.sof, jpeg);
    for (uint8_t m : {kAPP0, kAPP1, kAPP2, kSOF0, kCOM}) {
      for (uint16_t length : {0, 2}) {
        SCOPED_TRACE(testing::Message()
                     << "marker 0x" << std::hex << int{m} << ", length " << length);
        const Bytes empty = WithSegments({Segment(m, {}, length), App1(payload)});
        Probed e(empty, walk);
        EXPECT_EQ(e.exif.segmentOffset, InsertionPoint() + 4);
        ExpectSof(e.sof, empty);
      }
    }
  }
}

// Which markers are frame headers, for the probe and the frame-header
// finder: a decoy frame of 7x5 in front of the real one. The finder passes
// over empty frames and finds nothing without a frame.
TEST(FrameHeaders, TheSevenSofMarkersAndNoOthers) {
  const auto find = [](const Bytes& bytes, JpegSofInfo* sof) {
    TestStream s(bytes);
    qd::StreamPort port;
    qd::MakeStreamPort(s.stream(), &port);
    std::memset(sof, 0xA5, sizeof *sof);
    return qd::jpeg::FindFrameHeader(port, sof);
  };
  const Bytes exif = App1(ExifPayload(Order::II));
  JpegSofInfo sof;
  for (uint8_t m = 0xC0; m <= 0xCF; ++m) {
    SCOPED_TRACE(testing::Message() << "marker 0x" << std::hex << int{m});
    const bool frame = m <= 0xC3 || (m >= 0xC9 && m <= 0xCB);
    const Bytes jpeg = WithSegments({exif, Segment(m, {8, 0, 5, 0, 7, 1, 1, 0x11, 0})});
    Probed r(jpeg);
    EXPECT_EQ(+r.sof.width, frame ? 7u : JpegShape{}.width);
    ASSERT_EQ(find(jpeg, &sof), qd::ST_OK);
    EXPECT_EQ(sof.position, SegmentOffset(jpeg, frame ? m : kSOF0) + 2);
  }
  const Bytes jpeg = WithSegments({Segment(kSOF1, {}, 2)});
  ASSERT_EQ(find(jpeg, &sof), qd::ST_OK);
  ExpectSof(sof, jpeg);
  EXPECT_EQ(find(Concat({{0xFF, kSOI}, JfifApp0(), {0xFF, kEOI}}), &sof), qd::ST_OK);
  EXPECT_TRUE(AllZero(&sof, sizeof sof));
}

// The collecting probe walks the whole file, image data included, and hands
// back every APP2 and APP13 segment as it stands in the file. Without EOI the
// copying pass cannot prove it saw every segment; the gathering pass needs none.
TEST(CollectingProbe, GathersApp2AndApp13SegmentsWholeInFileOrder) {
  const Bytes icc1 = IccApp2(1, 2, kIcc), icc2 = IccApp2(2, 2, Bytes(30, 5));
  const Bytes iim = IimApp13(kIim), late = IimApp13(Bytes(6, 2));
  for (bool progressive : {false, true}) {
    SCOPED_TRACE(progressive ? "progressive" : "baseline");
    JpegShape shape;
    shape.progressive = progressive;
    const Bytes image = WithSegments(
        {icc1, App1(ExifPayload(Order::MM)), Segment(kCOM, {'h', 'i'}), icc2, iim}, shape);
    const size_t eoi = SegmentOffset(image, kEOI);
    const Bytes jpeg = Insert(image, eoi, {late});
    const int64_t live = LiveBlocks();
    {
      Probed r(jpeg, Walk::Collecting);
      ASSERT_EQ(r.status, qd::ST_OK);
      EXPECT_EQ(r.kind, qd::kKindExifJpeg);
      EXPECT_EQ(Block(r.segments.buffer, qd::BlockLength(r.segments.buffer)),
                Concat({icc1, icc2, iim, late}));
      EXPECT_EQ(+r.segments.size, qd::BlockLength(r.segments.buffer));
      ExpectSof(r.sof, image, shape);
      Probed without(jpeg, Walk::Collecting, false);
      EXPECT_EQ(without.Exif(), r.Exif());
      EXPECT_EQ(LiveBlocks(), live + 3) << "two Exif blocks and one segment buffer";
    }
    EXPECT_EQ(LiveBlocks(), live);
    Probed cut(Bytes(jpeg.begin(), jpeg.end() - 2), Walk::Collecting);
    EXPECT_EQ(cut.status, qd::ST_UNSUPPORTED);
    EXPECT_TRUE(cut.Cleared());
    const Bytes plain = WithSegments({App1(ExifPayload(Order::MM))}, shape);
    Probed nothingToCopy(Bytes(plain.begin(), plain.end() - 2), Walk::Collecting);
    EXPECT_EQ(nothingToCopy.status, qd::ST_OK);
    EXPECT_TRUE(AllZero(&nothingToCopy.segments, sizeof nothingToCopy.segments));
  }
}

}  // namespace
}  // namespace qdtest
