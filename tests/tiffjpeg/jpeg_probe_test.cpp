// The JPEG probes: which application block a file's properties come from, the
// extensions taken beside it, the frame header, and input made to mislead the
// marker walk.
#include <gtest/gtest.h>
#include <stdlib.h>  // mkdtemp
#include <unistd.h>  // rmdir

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "frame/memory_block.h"
#include "frame/status.h"
#include "format/file_kind.h"
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
const Walk kWalks[] = {Walk::Probe, Walk::Collecting};

bool AllZero(const void* p, size_t n) {
  const auto* b = static_cast<const uint8_t*>(p);
  return std::all_of(b, b + n, [](uint8_t v) { return v == 0; });
}

// Every output of either probe, poisoned before the run and released after.
struct ProbeOutputs {
  HeapObject heap;
  TiffBlockInfo exif;
  JpegSofInfo sof;
  JfifInfo jfif;
  OutPutInfo ext;          // the probe's
  ExtensionInfo segments;  // the collecting probe's
  uint16_t kind = 0x1234;

  ProbeOutputs() {
    std::memset(&heap, 0xA5, sizeof heap);
    std::memset(&exif, 0xA5, sizeof exif);
    std::memset(&sof, 0xA5, sizeof sof);
    std::memset(&jfif, 0xA5, sizeof jfif);
  }
  ProbeOutputs(const ProbeOutputs&) = delete;
  ProbeOutputs& operator=(const ProbeOutputs&) = delete;
  ~ProbeOutputs() {
    (void)qdParseFreeHeapObject(heap);
    (void)qdParseFreeExifBuffer(&exif);
    (void)qdParseFreeOutPutInfo(&ext);
    (void)qdParseFreeExtensionInfo(&segments);
  }

  // What every failed run must leave; the tail of the JFIF record is the caller's.
  // A walk that read the frame and then refused the block keeps the frame.
  bool Cleared(bool frameKept = false) const {
    const bool frame = frameKept ? sof.found == 1
                                 : AllZero(&sof, sizeof sof) && AllZero(&jfif, offsetof(JfifInfo, reserved2));
    return frame && AllZero(&heap, sizeof heap) && AllZero(&exif, sizeof exif) && jfif.reserved2[0] == 0xA5 &&
           AllZero(&ext, sizeof ext) && AllZero(&segments, sizeof segments) && kind == qd::kKindNone;
  }
};

qd::Status RunProbe(TestStream& s, Walk walk, ProbeOutputs* out, bool wantSegments = true) {
  qd::StreamPort port;
  qd::MakeStreamPort(s.stream(), &port);
  std::memset(&out->ext, walk == Walk::Probe ? 0xA5 : 0, sizeof out->ext);
  std::memset(&out->segments, walk == Walk::Collecting && wantSegments ? 0xA5 : 0, sizeof out->segments);
  if (walk == Walk::Probe) {
    return qd::jpeg::ProbeJpeg(port, &out->heap, &out->exif, &out->sof, &out->jfif, &out->ext, &out->kind);
  }
  return qd::jpeg::ProbeJpegCollecting(port, &out->heap, &out->exif, &out->sof, &out->jfif,
                                       wantSegments ? &out->segments : nullptr, &out->kind);
}

struct Probed : ProbeOutputs {
  explicit Probed(const Bytes& bytes, Walk walk = Walk::Probe, bool wantSegments = true) : stream(bytes) {
    status = RunProbe(stream, walk, this, wantSegments);
  }
  Bytes Exif() const { return Block(exif.segment, qd::BlockLength(exif.segment)); }
  static Bytes Block(const uint8_t* p, uint32_t n) { return p == nullptr ? Bytes{} : Bytes(p, p + n); }
  TestStream stream;
  qd::Status status;
};

// Exif with a value larger than the reader's buffer, so the block is read
// past it.
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

Bytes Pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7);  // never 0xFF in what we use
  return b;
}

const Bytes kIcc = Pattern(40, 1);
const Bytes kIim = Bytes{0x1C, 0x02, 0x00, 0x00, 0x02, 0x00, 0x04, 0x1C, 0x02, 0x78, 0x00};

// Where WithSegments puts its segments: after the JFIF header, or after SOI
// without one.
size_t InsertionPoint(const JpegShape& shape = {}) { return SegmentOffset(EncodeJpeg(shape), kDQT); }

Bytes WithSegments(std::initializer_list<Bytes> segments, const JpegShape& shape = {}) {
  return Insert(EncodeJpeg(shape), InsertionPoint(shape), segments);
}

JpegShape Bare() {
  JpegShape bare;
  bare.jfif = false;
  return bare;
}

// The frame header of `jpeg`, which holds the encoder's image with bytes
// inserted only in front of the frame.
void ExpectSof(const JpegSofInfo& sof, const Bytes& jpeg, const JpegShape& shape = {}) {
  const Bytes image = EncodeJpeg(shape);
  const size_t at = jpeg.size() - image.size() + SegmentOffset(image, shape.progressive ? kSOF2 : kSOF0);
  EXPECT_EQ((Nums{sof.found, sof.position, sof.length, sof.components, sof.width, sof.height}),
            (Nums{1, static_cast<uint32_t>(at + 2), 8u + 3 * shape.components, shape.components, shape.width,
                  shape.height}));
}

// Everything the probes take or pass over, in one decodable file.
Bytes RichJpeg(const JpegShape& shape = {}) {
  const Bytes image =
      WithSegments({Fill(2, App1(ExifPayload(Order::II))), IccApp2(1, 2, kIcc), IccApp2(2, 2, kIcc),
                    IccApp2(1, 1, kIcc), Segment(kCOM, {'c'}), IimApp13(kIim)},
                   shape);
  return Insert(image, SegmentOffset(image, kEOI), {IimApp13(Pattern(4, 7))});
}

// A declined run leaves every output cleared and nothing allocated.
void ExpectDeclined(const Bytes& bytes, qd::Status expected, Walk walk = Walk::Probe, bool frameKept = false) {
  const int64_t live = LiveBlocks();
  {
    Probed r(bytes, walk);
    EXPECT_EQ(r.status, expected);
    EXPECT_TRUE(r.Cleared(frameKept));
  }
  EXPECT_EQ(LiveBlocks(), live);
}

class JpegProbeKinds : public testing::TestWithParam<Order> {};

// JFIF, then an Exif (or "LoLe") APP1 is kind 3, a heap APP0 kind 1.
TEST_P(JpegProbeKinds, TakesTheJfifHeaderAndTheExifOrHeapBlock) {
  const bool be = GetParam() == Order::MM;
  for (const Bytes& payload : {ExifPayload(GetParam()), ExifPayload(GetParam(), "LoLe"), HeapFile(be)}) {
    const bool heap = payload[0] == (be ? 'M' : 'I');
    const Bytes jpeg = WithSegments({heap ? HeapApp0(payload) : App1(payload)});
    Probed r(jpeg);
    ASSERT_EQ(r.status, qd::ST_OK);
    EXPECT_EQ(r.kind, heap ? qd::kKindJpegHeap : qd::kKindExifJpeg);
    EXPECT_EQ((Nums{r.jfif.found, r.jfif.position, r.jfif.length, r.jfif.version, r.jfif.units, r.jfif.xDensity,
                    r.jfif.yDensity}),
              (Nums{1, 4, 16, kJfifVersion, kJfifUnits, kJfifXDensity, kJfifYDensity}));
    EXPECT_EQ(r.jfif.reserved2[0], 0xA5) << "the record's tail is the caller's";
    ExpectSof(r.sof, jpeg);
    EXPECT_TRUE(AllZero(&r.ext, sizeof r.ext));
    if (heap) {
      EXPECT_EQ(Probed::Block(r.heap.block, qd::BlockLength(r.heap.block)), payload);
      EXPECT_EQ(static_cast<uint8_t*>(r.heap.heap), r.heap.block + 26);
      EXPECT_EQ((Nums{r.heap.headerLength, r.heap.heapLength, r.heap.bigEndian}),
                (Nums{26, static_cast<uint32_t>(payload.size() - 26), be}));
      EXPECT_TRUE(AllZero(&r.exif, sizeof r.exif));
    } else {
      EXPECT_EQ(r.Exif(), payload);
      EXPECT_EQ(static_cast<uint8_t*>(r.exif.tiff), r.exif.segment + 6);
      EXPECT_EQ((Nums{static_cast<uint32_t>(r.exif.segmentOffset), r.exif.tiffSize, r.exif.byteOrder}),
                (Nums{static_cast<uint32_t>(SegmentOffset(jpeg, kAPP1)), static_cast<uint32_t>(payload.size() - 6), be}));
      EXPECT_TRUE(AllZero(&r.heap, sizeof r.heap));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(ByteOrders, JpegProbeKinds, testing::Values(Order::II, Order::MM),
                         [](const testing::TestParamInfo<Order>& i) { return i.param == Order::II ? "II" : "MM"; });

TEST(JpegProbe, DeclinesFilesWithoutAnExifOrHeapBlockBeforeTheFrame) {
  const Bytes image = EncodeJpeg();
  const Bytes exif = App1(ExifPayload(Order::II));
  Bytes badMark = ExifPayload(Order::II);
  badMark[7] = 'M';  // "IM"
  const struct {
    const char* what;
    Bytes jpeg;
    bool collectingToo;  // the collecting probe reads on past the frame
    bool frameKept;      // the walk succeeded; only the block was refused
  } cases[] = {
      {"APP0 that is not JFIF alone", WithSegments({Segment(kAPP0, Bytes{'A', 'V', 'I', '1', 0, 0, 0, 0})}, Bare()),
       true, false},
      {"JFIF alone", image, true, false},
      {"JFIF and a heap of another subtype", WithSegments({HeapApp0(HeapFile(false, "CCDR"))}), true, true},
      {"JFIF and a second JFIF", WithSegments({JfifApp0()}), true, true},
      {"APP1 without a signature", WithSegments({App1(Bytes{'h', 't', 't', 'p', ':', 0})}), true, true},
      {"Exif without a byte-order mark", WithSegments({App1(badMark)}), true, true},
      {"Exif ending in its signature", WithSegments({App1(Bytes{'E', 'x', 'i', 'f', 0, 0, 'I'})}), true, true},
      {"no frame header", Concat({{0xFF, kSOI}, exif, {0xFF, kEOI}}), true, false},
      {"a frame header too short to read", Concat({{0xFF, kSOI}, exif, Segment(kSOF0, {8, 0, 1, 0}), {0xFF, kEOI}}),
       true, false},
      {"Exif after the frame header", Insert(image, SegmentOffset(image, kDHT), {exif}), false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ExpectDeclined(c.jpeg, qd::ST_UNSUPPORTED, Walk::Probe, c.frameKept);
    if (c.collectingToo) ExpectDeclined(c.jpeg, qd::ST_UNSUPPORTED, Walk::Collecting, c.frameKept);
  }
}

TEST(JpegProbe, ATiffMarkAtTheStartIsRefusedAfterTheFirstRead) {
  for (const char* start : {"II", "MM", "IM"}) {
    SCOPED_TRACE(start);
    const Bytes bytes = Insert(WithSegments({App1(ExifPayload(Order::II))}), 0, {Bytes(start, start + 2)});
    Probed r(bytes);  // larger than the reader's buffer
    if (start[0] == start[1]) {
      EXPECT_EQ(r.status, qd::ST_UNSUPPORTED);
      EXPECT_TRUE(r.Cleared());
      EXPECT_EQ(r.stream.CountOf(Callback::Read), 1);
    } else {
      EXPECT_EQ(r.kind, qd::kKindExifJpeg) << "no SOI is required";
    }
  }
  // Streams of up to 7 bytes: below 2 the first read itself fails.
  const Bytes tiff{'I', 'I', 42, 0, 8, 0, 0, 0};
  for (ptrdiff_t n = 0; n < 8; ++n) {
    SCOPED_TRACE(testing::Message() << n << " bytes");
    ExpectDeclined(Bytes(tiff.begin(), tiff.begin() + n), n < 2 ? qd::ST_PAST_END : qd::ST_UNSUPPORTED);
  }
}

TEST(JpegProbe, OnlyAnExifBlockEndsTheSearchForOne) {
  const Bytes first = ExifPayload(Order::II, "Exif", 0x11);
  const Bytes second = ExifPayload(Order::MM, "Exif", 0x22);
  const Bytes xmp{'h', 't', 't', 'p', ':', '/', '/', 0};
  const struct {
    const char* what;
    Bytes jpeg;
    const Bytes& taken;
    bool jfif;
  } cases[] = {
      {"a later Exif replaces an APP1 without one", WithSegments({App1(xmp), App1(second)}), second, true},
      {"a later Exif replaces a heap", WithSegments({HeapApp0(HeapFile(true)), App1(second)}), second, true},
      {"the first of two Exif blocks", WithSegments({App1(first), App1(second)}), first, true},
      {"an APP0 after Exif is not a heap", WithSegments({App1(first), HeapApp0(HeapFile(false))}), first, true},
      {"an APP0 before JFIF is only a candidate JFIF", WithSegments({Segment(kAPP0, Bytes(14, 'x')), App1(first)}, Bare()),
       first, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const int64_t live = LiveBlocks();
    {
      Probed r(c.jpeg);
      ASSERT_EQ(r.status, qd::ST_OK);
      EXPECT_EQ(r.kind, qd::kKindExifJpeg);
      EXPECT_EQ(r.Exif(), c.taken);
      EXPECT_EQ(r.jfif.found, c.jfif ? 1 : 0);
    }
    EXPECT_EQ(LiveBlocks(), live) << "a replaced block was not released";
  }
}

TEST(JpegProbe, TakesTheFirstSingleChunkProfileAndIimBlockBeforeTheFrame) {
  const Bytes exif = App1(ExifPayload(Order::II));
  Bytes otherResource = IimApp13(kIim);
  otherResource[4 + 14 + 4 + 1] = 0xED;  // resource 0x04ED instead of 0x0404
  const Bytes withExif = WithSegments({exif});
  const Bytes icc = IccApp2(1, 1, kIcc);
  const Bytes iccPayload(icc.begin() + 4, icc.end());
  const struct {
    const char* what;
    Bytes jpeg;
    Bytes icc, iim;
  } cases[] = {
      {"one of each", WithSegments({exif, icc, IimApp13(kIim)}), kIcc, kIim},
      {"before the Exif block", WithSegments({IimApp13(kIim), icc, exif}), kIcc, kIim},
      {"the first of two",
       WithSegments({icc, IimApp13(kIim), IccApp2(1, 1, Pattern(9, 3)), IimApp13(Pattern(5, 3)), exif}), kIcc, kIim},
      {"a profile in two chunks", WithSegments({exif, IccApp2(1, 2, kIcc), IccApp2(2, 2, kIcc)}), {}, {}},
      // Profile segments whose length field leaves no room for a profile.
      {"ICC length 3", WithSegments({exif, Segment(kAPP2, iccPayload, 3)}), {}, {}},
      {"ICC length 16", WithSegments({exif, Segment(kAPP2, iccPayload, 16)}), {}, {}},
      {"another resource first", WithSegments({exif, otherResource}), {}, {}},
      {"a size past the segment", WithSegments({exif, IimApp13(kIim, kIim.size() + 2)}), {}, {}},
      {"a size of 64K", WithSegments({exif, IimApp13(kIim, 0x10000)}), {}, {}},
      {"after the frame header", Insert(withExif, SegmentOffset(withExif, kDHT), {icc, IimApp13(kIim)}), {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Probed r(c.jpeg);
    ASSERT_EQ(r.status, qd::ST_OK);
    EXPECT_EQ(Probed::Block(r.ext.iccProfile, r.ext.iccProfileSize), c.icc);
    EXPECT_EQ(qd::BlockLength(r.ext.iccProfile), c.icc.size());
    EXPECT_EQ(Probed::Block(r.ext.iim, r.ext.iimSize), c.iim);
    EXPECT_EQ(qd::BlockLength(r.ext.iim), c.iim.size());
  }
}

// Fill bytes before a marker belong to no segment; a stuffed zero after 0xFF
// is not a marker, so its next bytes are no length. Segments with a length of
// 2 or less are passed over.
TEST(JpegProbe, FillBytesStuffedZerosAndEmptySegments) {
  const Bytes payload = ExifPayload(Order::II);
  const Bytes stuffed{0xFF, 0x00, 0x7F, 0x00};
  for (Walk walk : kWalks) {
    const Bytes jpeg = WithSegments({stuffed, Fill(5, App1(payload)), Fill(1, IccApp2(1, 1, kIcc)), stuffed});
    Probed r(jpeg, walk);
    ASSERT_EQ(r.status, qd::ST_OK);
    EXPECT_EQ(r.Exif(), payload);
    EXPECT_EQ(uintptr_t{r.exif.segmentOffset}, InsertionPoint() + stuffed.size() + 5)
        << "the 0xFF right before the marker";
    if (walk == Walk::Probe) EXPECT_EQ(Probed::Block(r.ext.iccProfile, r.ext.iccProfileSize), kIcc);
    if (walk == Walk::Collecting) EXPECT_EQ(Probed::Block(r.segments.buffer, r.segments.size), IccApp2(1, 1, kIcc));
    ExpectSof(r.sof, jpeg);

    for (uint8_t m : {kAPP0, kAPP1, kAPP2, kAPP13, kSOF0, kCOM}) {
      for (uint16_t length : {0, 1, 2}) {
        SCOPED_TRACE(testing::Message() << "marker 0x" << std::hex << int{m} << ", length " << length);
        const Bytes empty = WithSegments({Segment(m, {}, length), App1(payload)});
        Probed e(empty, walk);
        ASSERT_EQ(e.status, qd::ST_OK);
        EXPECT_EQ(uintptr_t{e.exif.segmentOffset}, InsertionPoint() + 4);
        ExpectSof(e.sof, empty);
      }
    }
  }
}

// Which markers are frame headers, for the probe, the frame-header finder and
// the export that reads baseline frames only: a decoy frame of 7x5 in front of
// the real one.
TEST(FrameHeaders, TheSevenSofMarkersAndNoOthers) {
  const auto find = [](const Bytes& bytes, JpegSofInfo* sof) {
    TestStream s(bytes);
    qd::StreamPort port;
    qd::MakeStreamPort(s.stream(), &port);
    std::memset(sof, 0xA5, sizeof *sof);
    return qd::jpeg::FindFrameHeader(port, sof);
  };
  const Bytes decoy{8, 0, 5, 0, 7, 1, 1, 0x11, 0};
  const Bytes exif = App1(ExifPayload(Order::II));
  for (uint8_t m = 0xC0; m <= 0xCF; ++m) {
    SCOPED_TRACE(testing::Message() << "marker 0x" << std::hex << int{m});
    const bool frame = m <= 0xC3 || (m >= 0xC9 && m <= 0xCB);
    const Bytes jpeg = WithSegments({exif, Segment(m, decoy)});
    Probed r(jpeg);
    ASSERT_EQ(r.status, qd::ST_OK);
    EXPECT_EQ(uint16_t{r.sof.width}, frame ? 7 : JpegShape{}.width);
    JpegSofInfo sof;
    ASSERT_EQ(find(jpeg, &sof), qd::ST_OK);
    EXPECT_EQ(uint32_t{sof.position}, SegmentOffset(jpeg, frame ? m : kSOF0) + 2);
    JpegImageInfo info;
    TestStream t(jpeg);
    ASSERT_EQ(QDParseGetJPEGInfo(t.stream(), &info), QD_OK);
    EXPECT_EQ(uint16_t{info.width}, m == kSOF0 ? 7 : JpegShape{}.width);
  }
  // The finder passes over empty frames and finds nothing in a file without a
  // frame, with a frame too short to describe, or in an empty or cut stream.
  JpegSofInfo sof;
  const Bytes jpeg = WithSegments({Segment(kSOF1, {}, 2)});
  ASSERT_EQ(find(jpeg, &sof), qd::ST_OK);
  ExpectSof(sof, jpeg);
  const Bytes cut(jpeg.begin(), jpeg.begin() + static_cast<ptrdiff_t>(SegmentOffset(jpeg, kSOF0)) + 6);
  for (const Bytes& bytes : {Concat({{0xFF, kSOI}, JfifApp0(), {0xFF, kEOI}}), WithSegments({Segment(kSOF0, {8, 0, 1})}),
                             Bytes{}, cut}) {
    EXPECT_EQ(find(bytes, &sof), qd::ST_OK);
    EXPECT_TRUE(AllZero(&sof, sizeof sof));
  }
}

// The collecting probe walks the whole file, image data included, and hands
// back every APP2 and APP13 segment as it stands in the file.
TEST(CollectingProbe, GathersApp2AndApp13SegmentsWholeInFileOrder) {
  const Bytes icc1 = IccApp2(1, 2, kIcc), icc2 = IccApp2(2, 2, Pattern(30, 5));
  const Bytes iim = IimApp13(kIim), late = IimApp13(Pattern(6, 2));
  for (bool progressive : {false, true}) {
    SCOPED_TRACE(progressive ? "progressive" : "baseline");
    JpegShape shape;
    shape.progressive = progressive;
    const Bytes image = WithSegments({icc1, App1(ExifPayload(Order::MM)), Segment(kCOM, {'h', 'i'}), icc2, iim}, shape);
    const size_t eoi = SegmentOffset(image, kEOI);
    const Bytes jpeg = Insert(image, eoi, {late});
    if (EncoderIsLibjpeg()) {
      const Bytes stuffed{0xFF, 0x00};
      const auto scans = jpeg.begin() + static_cast<ptrdiff_t>(SegmentOffset(jpeg, kSOS));
      ASSERT_NE(std::search(scans, jpeg.begin() + eoi, stuffed.begin(), stuffed.end()), jpeg.begin() + eoi)
          << "the image data holds no stuffed zero to walk past";
    }
    const int64_t live = LiveBlocks();
    {
      Probed r(jpeg, Walk::Collecting);
      ASSERT_EQ(r.status, qd::ST_OK);
      EXPECT_EQ(r.kind, qd::kKindExifJpeg);
      EXPECT_EQ(Probed::Block(r.segments.buffer, qd::BlockLength(r.segments.buffer)), Concat({icc1, icc2, iim, late}));
      EXPECT_EQ(uint32_t{r.segments.size}, qd::BlockLength(r.segments.buffer));
      ExpectSof(r.sof, image, shape);
      Probed without(jpeg, Walk::Collecting, false);
      EXPECT_EQ(without.Exif(), r.Exif());
      EXPECT_EQ(LiveBlocks(), live + 3) << "two Exif blocks and one segment buffer";
    }
    EXPECT_EQ(LiveBlocks(), live);

    // Without EOI the copying pass cannot prove it saw every segment.
    ExpectDeclined(Bytes(jpeg.begin(), jpeg.end() - 2), qd::ST_UNSUPPORTED, Walk::Collecting);
    const Bytes plain = WithSegments({App1(ExifPayload(Order::MM))}, shape);
    Probed nothingToCopy(Bytes(plain.begin(), plain.end() - 2), Walk::Collecting);
    EXPECT_EQ(nothingToCopy.status, qd::ST_OK) << "the gathering pass needs no EOI";
    EXPECT_TRUE(AllZero(&nothingToCopy.segments, sizeof nothingToCopy.segments));
  }
}

// Wherever the file is cut or one byte of its headers damaged, both probes
// end cleanly, leave nothing allocated, and read nothing outside the blocks
// they sized from the file. A file cut before its frame size is whole,
// or for the collecting probe anywhere, fails whatever segment the cut is in.
TEST(JpegProbeRobustness, EveryPrefixAndEveryDamagedHeaderByte) {
  const Bytes jpeg = RichJpeg();
  const size_t headers = SegmentOffset(jpeg, kSOS);
  ASSERT_NE(headers, npos);
  const int64_t live = LiveBlocks();
  for (Walk walk : kWalks) {
    SCOPED_TRACE(walk == Walk::Probe ? "probe" : "collecting");
    auto clean = [&](const Bytes& bytes, const char* what, size_t at, bool mayPass = true) {
      Probed r(bytes, walk);
      const bool ok = (mayPass && r.status == qd::ST_OK) ||
                      ((r.status == qd::ST_UNSUPPORTED || r.status == qd::ST_PAST_END) && r.Cleared(r.sof.found == 1));
      EXPECT_TRUE(ok) << what << " " << at << ": 0x" << std::hex << r.status;
      return ok;
    };
    const size_t frameEnd = SegmentOffset(jpeg, kSOF0) + 8;  // its width not yet whole
    for (size_t n = 0; n < jpeg.size(); ++n) {
      const Bytes prefix(jpeg.begin(), jpeg.begin() + static_cast<ptrdiff_t>(n));
      if (!clean(prefix, "prefix", n, walk == Walk::Probe && n >= frameEnd)) return;
    }
    for (size_t i = 0; i < headers; ++i) {
      for (uint8_t value : {0x00, 0xFF}) {
        Bytes damaged = jpeg;
        damaged[i] = value;
        if (!clean(damaged, "damaged byte", i)) return;
      }
    }
  }
  EXPECT_EQ(LiveBlocks(), live);
}

// Swept here: no export reaches the collecting walk.
TEST(JpegProbeFaults, CollectingWalkLeavesNothingBehind) {
  const Bytes jpeg = RichJpeg();
  bool cleared = false;
  auto run = [&](TestStream& s) {
    ProbeOutputs out;
    const qd::Status st = RunProbe(s, Walk::Collecting, &out);
    cleared = out.Cleared();
    return qd::ToResultCode(st);
  };
  const auto check = [&](const SweepRun& r) {
    if (r.result != QD_OK) EXPECT_TRUE(cleared);
  };
  // The reader's buffer (QD_E_FAILED), then the Exif block and the segment buffer (QD_E_NO_MEMORY).
  const int allocations = SweepAllocationFailures(
      [&] {
        TestStream s(jpeg);
        return run(s);
      },
      {QD_E_NO_MEMORY, QD_E_FAILED}, check);
  EXPECT_EQ(allocations, 4);
  const int calls = SweepHostFailures([&] { return std::make_unique<TestStream>(jpeg); }, run, 0x7E57F00Du,
                                      {QD_E_FAILED, QD_E_UNSUPPORTED},
                                      [&](const SweepRun& r, TestStream&) { check(r); });
  EXPECT_GT(calls, 4);
}

// Proves the fixtures carry real image data: djpeg decodes each without a warning.
TEST(JpegFixtures, EveryFixtureDecodesWithDjpeg) {
  const char* djpeg = "/usr/bin/djpeg";
  if (std::FILE* f = std::fopen(djpeg, "rb")) {
    std::fclose(f);
  } else {
    GTEST_SKIP() << djpeg << " is not installed";
  }
  JpegShape grey, odd = Bare();
  grey.components = 1;
  odd.width = 17;
  odd.height = 9;
  odd.sampling = 0x21;
  std::vector<std::pair<std::string, Bytes>> fixtures;
  for (JpegShape shape : {JpegShape{}, grey, odd}) {
    for (bool progressive : {false, true}) {
      shape.progressive = progressive;
      const std::string name = std::to_string(fixtures.size());
      fixtures.emplace_back(name, EncodeJpeg(shape));
      fixtures.emplace_back(name + "-rich", RichJpeg(shape));
    }
  }
  fixtures.emplace_back("heap", WithSegments({HeapApp0(HeapFile(true))}));
  fixtures.emplace_back("lole", WithSegments({App1(ExifPayload(Order::MM, "LoLe"))}));

  char dir[] = "/tmp/qdparse-jpeg-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string errors = std::string(dir) + "/stderr";
  for (const auto& [name, bytes] : fixtures) {
    const std::string path = std::string(dir) + "/" + name + ".jpg";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    std::fclose(f);
    const int status = std::system((std::string(djpeg) + " -outfile /dev/null " + path + " 2>" + errors).c_str());
    std::string message;
    if (std::FILE* e = std::fopen(errors.c_str(), "r")) {
      char line[256];
      while (std::fgets(line, sizeof line, e) != nullptr) message += line;
      std::fclose(e);
    }
    EXPECT_EQ(status, 0) << name << ": " << message;
    EXPECT_EQ(message, "") << name;
    std::remove(path.c_str());
  }
  std::remove(errors.c_str());
  rmdir(dir);
}

}  // namespace
}  // namespace qdtest
