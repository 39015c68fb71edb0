// The JPEG readers: which application block a file's properties come from and
// the extensions taken beside it, the segments the collecting walk gathers, the
// frame-header exports and finder, and input made to mislead the marker walk.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "format/file_kind.h"
#include "frame/fault.h"
#include "frame/memory_block.h"
#include "support/fault_sweep.h"
#include "support/heap_builder.h"
#include "support/jpeg_builder.h"
#include "support/tiff_builder.h"
#include "tiffjpeg/jpeg_segments.h"
#include "tiffjpeg/jpeg_stream.h"

namespace qdtest {
namespace {

using namespace marker;
using Nums = std::vector<uint32_t>;

bool AllZero(const void* p, size_t n) {
  const auto* b = static_cast<const uint8_t*>(p);
  return std::all_of(b, b + n, [](uint8_t v) { return v == 0; });
}
Bytes Block(const uint8_t* p, uint32_t n) { return p == nullptr ? Bytes{} : Bytes(p, p + n); }

struct Outputs {
  HeapObject heap;
  TiffBlockInfo exif;
  JpegSofInfo sof;
  JfifInfo jfif;
  OutPutInfo ext;
};

// The probe over `bytes`, its outputs poisoned before and released after.
struct Probed : Outputs {
  explicit Probed(const Bytes& bytes) {
    std::memset(static_cast<Outputs*>(this), 0xA5, sizeof(Outputs));
    TestStream s(bytes);
    qd::StreamPort port;
    qd::MakeStreamPort(s.stream(), &port);
    status = qd::jpeg::ProbeJpeg(port, &heap, &exif, &sof, &jfif, &ext, &kind);
  }
  ~Probed() {
    (void)qdParseFreeHeapObject(heap);
    (void)qdParseFreeExifBuffer(&exif);
    (void)qdParseFreeOutPutInfo(&ext);
  }
  // After a failure: the tail of the JFIF record is the caller's, and a walk
  // that read the frame and then refused the block keeps the frame.
  bool Cleared(bool frameKept) const {
    const bool frame = frameKept ? sof.found == 1
                                 : AllZero(&sof, sizeof sof) &&
                                       AllZero(&jfif, offsetof(JfifInfo, reserved2));
    return frame && AllZero(&heap, sizeof heap) && AllZero(&exif, sizeof exif) &&
           jfif.reserved2[0] == 0xA5 && AllZero(&ext, sizeof ext) && kind == qd::kKindNone;
  }

  uint16_t kind = 0x1234;
  qd::Status status;
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
Bytes WithSegments(std::initializer_list<Bytes> segments, const JpegShape& shape = {}) {
  const Bytes image = EncodeJpeg(shape);
  return Insert(image, SegmentOffset(image, kDQT), segments);
}

// A declined run leaves every output cleared and nothing allocated; a walk
// that read the frame and then refused the block keeps the frame. A TIFF mark
// at the start is refused; no SOI is required otherwise.
TEST(JpegProbe, DeclinesFilesWithoutAnExifOrHeapBlockBeforeTheFrame) {
  const Bytes image = EncodeJpeg(), exif = App1(ExifPayload(Order::II));
  Bytes badMark = ExifPayload(Order::II);
  badMark[7] = 'M';  // "IM"
  JpegShape bare;
  bare.jfif = false;
  const struct {
    const char* what;
    Bytes jpeg;
    bool frameKept;
    qd::Status status;
  } rows[] = {
      {"an APP0 that is not JFIF", WithSegments({Segment(kAPP0, {'A', 'V', 'I', '1', 0})}, bare),
       false, qd::ST_UNSUPPORTED},
      {"a heap of another subtype", WithSegments({HeapApp0(HeapFile(false, "CCDR"))}), true,
       qd::ST_UNSUPPORTED},
      {"APP1 without a signature", WithSegments({App1({'h', 't', 't', 'p', 0})}), true,
       qd::ST_UNSUPPORTED},
      {"Exif without a byte-order mark", WithSegments({App1(badMark)}), true, qd::ST_UNSUPPORTED},
      {"Exif ending in its signature", WithSegments({App1({'E', 'x', 'i', 'f', 0, 0, 'I'})}), true,
       qd::ST_UNSUPPORTED},
      {"a short frame header", WithSegments({exif, Segment(kSOF0, {8, 0, 5})}), false,
       qd::ST_UNSUPPORTED},
      {"no frame header", Concat({{0xFF, kSOI}, exif, {0xFF, kEOI}}), false, qd::ST_UNSUPPORTED},
      {"II first", Insert(WithSegments({exif}), 0, {{'I', 'I'}}), false, qd::ST_UNSUPPORTED},
      {"one byte", Bytes(1, 'I'), false, qd::ST_PAST_END},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const int64_t live = LiveBlocks();
    {
      Probed r(row.jpeg);
      EXPECT_EQ(r.status, row.status);
      EXPECT_TRUE(r.Cleared(row.frameKept));
    }
    EXPECT_EQ(LiveBlocks(), live);
  }
  EXPECT_EQ(Probed(Insert(image, SegmentOffset(image, kDHT), {exif})).status, qd::ST_UNSUPPORTED);
  EXPECT_EQ(Probed(Insert(WithSegments({exif}), 0, {{'I', 'M'}})).kind, qd::kKindExifJpeg);
}

// An Exif (or "LoLe") APP1 is kind 3, a heap APP0 after the JFIF header kind
// 1. Only an Exif block ends the search for one: a later Exif replaces an
// APP1 without one or a heap, and the replaced block is released. The first
// single-chunk ICC profile and the first IIM block in front of the frame are
// taken beside it. Fill bytes, stuffed zeros and empty segments are passed over.
TEST(JpegProbe, WhichBlocksAreTaken) {
  const Bytes first = ExifPayload(Order::II, "Exif", 0x11),
              second = ExifPayload(Order::MM, "Exif", 0x22), lole = ExifPayload(Order::II, "LoLe"),
              heapII = HeapFile(false), heapMM = HeapFile(true);
  const Bytes exif = App1(first), icc = IccApp2(1, 1, kIcc), iim = IimApp13(kIim),
              withExif = WithSegments({exif}), stuffed{0xFF, 0x00, 0x7F, 0x00};
  Bytes otherResource = iim;
  otherResource[4 + 14 + 4 + 1] = 0xED;  // resource 0x04ED instead of 0x0404
  const struct {
    const char* what;
    Bytes jpeg;
    const Bytes& taken;
    Bytes icc, iim;
  } rows[] = {
      {"LoLe", WithSegments({App1(lole)}), lole, {}, {}},
      {"a heap", WithSegments({HeapApp0(heapII)}), heapII, {}, {}},
      {"a big-endian heap", WithSegments({HeapApp0(heapMM)}), heapMM, {}, {}},
      {"a later Exif after an APP1 without one",
       WithSegments({App1({'h', 't', 't', 'p', 0}), App1(second)}), second, {}, {}},
      {"a later Exif after a heap", WithSegments({HeapApp0(heapMM), App1(second)}), second, {}, {}},
      {"the first of two Exif blocks", WithSegments({exif, App1(second)}), first, {}, {}},
      {"one of each", WithSegments({iim, icc, exif}), first, kIcc, kIim},
      {"the first of two", WithSegments({exif, icc, iim, IccApp2(1, 1, {9}), IimApp13({5, 3})}),
       first, kIcc, kIim},
      {"a profile in two chunks", WithSegments({exif, IccApp2(1, 2, kIcc), IccApp2(2, 2, kIcc)}),
       first, {}, {}},
      {"another resource first", WithSegments({exif, otherResource}), first, {}, {}},
      {"a size past the segment", WithSegments({exif, IimApp13(kIim, kIim.size() + 2)}), first,
       {}, {}},
      {"after the frame header", Insert(withExif, SegmentOffset(withExif, kDHT), {icc, iim}),
       first, {}, {}},
      {"fill bytes and stuffed zeros",
       WithSegments({stuffed, Fill(5, exif), Fill(1, icc), stuffed}), first, kIcc, {}},
      {"short ICC and IIM segments, a short APP1",
       WithSegments({App1({'E', 'x'}), exif, Segment(kAPP2, {'I'}), Segment(kAPP13, {'P'})}),
       first, {}, {}},
      {"empty segments",
       WithSegments({Segment(kAPP0, {}, 0), Segment(kAPP1, {}, 2), Segment(kAPP2, {}, 0),
                     Segment(kSOF0, {}, 2), Segment(kCOM, {}, 0), exif}),
       first, {}, {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const int64_t live = LiveBlocks();
    {
      Probed r(row.jpeg);
      ASSERT_EQ(r.status, qd::ST_OK);
      const bool heap = row.taken[0] == 'I' || row.taken[0] == 'M';
      const uint8_t* block = heap ? r.heap.block : r.exif.segment;
      EXPECT_EQ(r.kind, heap ? qd::kKindJpegHeap : qd::kKindExifJpeg);
      EXPECT_EQ(Block(block, qd::BlockLength(block)), row.taken);
      EXPECT_EQ(heap ? static_cast<uint8_t*>(r.heap.heap) : r.exif.tiff, block + (heap ? 26 : 6));
      EXPECT_EQ((heap ? r.heap.heapLength + 26 : r.exif.tiffSize + 6), row.taken.size());
      EXPECT_EQ(heap ? r.heap.bigEndian : r.exif.byteOrder, row.taken[heap ? 0 : 6] == 'M');
      EXPECT_EQ((Nums{r.jfif.found, r.jfif.position, r.jfif.length, r.jfif.version, r.jfif.units,
                      r.jfif.xDensity, r.jfif.yDensity, r.jfif.reserved2[0]}),
                (Nums{1, 4, 16, kJfifVersion, kJfifUnits, kJfifXDensity, kJfifYDensity, 0xA5}));
      EXPECT_EQ(Block(r.ext.iccProfile, r.ext.iccProfileSize), row.icc);
      EXPECT_EQ(Block(r.ext.iim, r.ext.iimSize), row.iim);
      EXPECT_EQ(qd::BlockLength(r.ext.iccProfile) + qd::BlockLength(r.ext.iim),
                row.icc.size() + row.iim.size());
      const auto at = row.jpeg.begin() + static_cast<ptrdiff_t>(r.exif.segmentOffset);
      EXPECT_EQ(Bytes(at, at + 2), (Bytes{0xFF, heap ? kSOI : kAPP1})) << "0 for a heap";
      EXPECT_EQ((Nums{r.sof.length, r.sof.width, r.sof.height}), (Nums{17, 40, 24}));
    }
    EXPECT_EQ(LiveBlocks(), live);
  }
}

// The segment export walks the whole file, image data included, and hands
// back every APP2 and APP13 segment as it stands in the file. Without EOI it
// cannot prove it saw every segment unless there is nothing to copy.
TEST(CollectingProbe, GathersApp2AndApp13SegmentsWholeInFileOrder) {
  const Bytes icc1 = IccApp2(1, 2, kIcc), icc2 = IccApp2(2, 2, Bytes(30, 5));
  const Bytes iim = IimApp13(kIim), late = IimApp13(Bytes(6, 2)), stuffed{0xFF, 0x00, 0xFF};
  const auto gather = [](const Bytes& jpeg, Bytes* segments) {
    TestStream s(jpeg);
    ExtensionInfo app1, info;
    std::memset(&info, 0xA5, sizeof info);
    const uint32_t result = qdParseExifJpegMakeImageProperty(s.stream(), nullptr, nullptr, nullptr,
                                                             nullptr, &app1, &info);
    const bool cleared = info.buffer == nullptr && info.size == 0;
    *segments = cleared ? Bytes{} : result == QD_OK ? Block(info.buffer, info.size) : Bytes{0xA5};
    if (result == QD_OK) {
      EXPECT_EQ(qdParseFreeApp1Info(&app1), QD_OK);
      EXPECT_EQ(qdParseFreeApp1Info(&info), QD_OK);
    }
    return result;
  };
  for (bool progressive : {false, true}) {
    SCOPED_TRACE(progressive ? "progressive" : "baseline");
    JpegShape shape;
    shape.progressive = progressive;
    const Bytes image = WithSegments(
        {Fill(2, icc1), App1(ExifPayload(Order::MM)), Segment(kCOM, {'h', 'i'}), icc2, iim},
        shape);
    const Bytes decoy = Segment(kSOF1, {8, 0, 5, 0, 7, 1, 1, 0x11, 0});
    const Bytes jpeg = Insert(image, SegmentOffset(image, kEOI), {stuffed, late, decoy});
    const int64_t live = LiveBlocks();
    Bytes segments;
    EXPECT_EQ(gather(jpeg, &segments), QD_OK);
    EXPECT_EQ(segments, Concat({icc1, icc2, iim, late}));
    EXPECT_EQ(gather(Bytes(jpeg.begin(), jpeg.end() - 2), &segments), QD_E_UNSUPPORTED);
    EXPECT_EQ(segments, Bytes{}) << "cleared";
    const Bytes plain = WithSegments({App1(ExifPayload(Order::MM))}, shape);
    EXPECT_EQ(gather(Bytes(plain.begin(), plain.end() - 2), &segments), QD_OK);
    EXPECT_EQ(segments, Bytes{});
    EXPECT_EQ(LiveBlocks(), live);
  }
}

// QDParseGetJPEGInfo describes the baseline frame, QDParseGetSOFData copies
// the first frame header (length field and payload) as the file holds it.
TEST(FrameExports, InfoOfTheBaselineFrameAndACopyOfTheFirstFrameHeader) {
  const auto header = [](const Bytes& jpeg, uint8_t m) {
    const size_t at = SegmentOffset(jpeg, m) + 2;
    return Bytes(jpeg.begin() + at, jpeg.begin() + at + (jpeg[at] << 8 | jpeg[at + 1]));
  };
  JpegShape grey, odd, progressive;
  grey.components = 1;
  grey.sampling = 0x11;
  odd.width = 17;
  odd.sampling = 0x12;
  progressive.progressive = true;
  const Bytes jpeg = EncodeJpeg(odd);
  const size_t frame = SegmentOffset(jpeg, kSOF0);
  const struct {
    const char* what;
    Bytes bytes;
    uint32_t infoResult;
    Nums info;  // width, height, components, sampling
    uint32_t copyResult;
    Bytes copied;
  } rows[] = {
      {"grey", EncodeJpeg(grey), QD_OK, {40, 24, 1, 0x11}, QD_OK,
       header(EncodeJpeg(grey), kSOF0)},
      {"odd sampling", jpeg, QD_OK, {17, 24, 3, 0x12}, QD_OK, header(jpeg, kSOF0)},
      {"progressive", EncodeJpeg(progressive), QD_E_UNSUPPORTED, {0, 0, 0, 0}, QD_OK,
       header(EncodeJpeg(progressive), kSOF2)},
      {"empty frames first", Insert(jpeg, frame, {Segment(kSOF1, {}, 0), Segment(kSOF2, {}, 2)}),
       QD_OK, {17, 24, 3, 0x12}, QD_OK, header(jpeg, kSOF0)},
      {"a TIFF mark first", Insert(jpeg, 0, {{'I', 'I'}}), QD_E_UNSUPPORTED, {0, 0, 0, 0}, QD_OK,
       header(jpeg, kSOF0)},
      {"no frame", Concat({{0xFF, kSOI}, Segment(kCOM, {'x'}), {0xFF, kEOI}}), QD_E_UNSUPPORTED,
       {0, 0, 0, 0}, QD_OK, {}},
      {"a frame cut by the end", Bytes(jpeg.begin(), jpeg.begin() + frame + 10), QD_E_FAILED,
       {0, 0, 0, 0}, QD_E_FAILED, {}},
      {"one byte", {0xFF}, QD_E_FAILED, {0, 0, 0, 0}, QD_E_UNSUPPORTED, {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    TestStream in(row.bytes), out(Bytes(4, 0xEE));
    JpegImageInfo info;
    std::memset(&info, 0xA5, sizeof info);
    EXPECT_EQ(QDParseGetJPEGInfo(in.stream(), &info), row.infoResult);
    EXPECT_EQ((Nums{info.width, info.height, info.components, info.sampling}), row.info);
    out.LimitTransfers(5);
    EXPECT_EQ(QDParseGetSOFData(in.stream(), out.stream()), row.copyResult);
    EXPECT_EQ(out.data(), row.copied.empty() ? Bytes(4, 0xEE) : row.copied);
    EXPECT_EQ(out.TotalCalls() != 0, !row.copied.empty())
        << "the destination is opened for a whole frame only";
    if (!row.copied.empty()) EXPECT_EQ(out.lastOpenMode(), QD_OPEN_UPDATE);
  }
}

// Fill bytes and stuffed zeros are passed over; the end of the stream gives 0.
TEST(NextMarker, PassesOverDataFillBytesAndStuffedZeros) {
  const struct {
    Bytes bytes;
    uint8_t marker;
    uint32_t after;  // stream position after the scan
  } rows[] = {
      {{0x12, 0xFF, 0x00, 0xFF, 0xFF, 0xD8}, 0xD8, 6},
      {{0x00, 0xFF, 0x00, 0xFF, 0x00, 0x34, 0xFF, 0xE1, 0x12}, 0xE1, 8},
      {{0x12, 0xFF, 0x00, 0xFF}, 0, 4},
      {{0xFF, 0xFF, 0xFF}, 0, 3},
  };
  for (const auto& row : rows) {
    TestStream s(row.bytes);
    EXPECT_EQ(qd::jpeg::NextMarker(s.stream()), row.marker);
    EXPECT_EQ(s.position(), row.after);
  }
}

}  // namespace
}  // namespace qdtest
