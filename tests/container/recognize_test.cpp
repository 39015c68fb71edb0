// Container recognition over whole files: which probe takes which file and
// what a declined or failed recognition leaves behind (nothing).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "frame/memory_block.h"
#include "container/recognize.h"
#include "support/container_builder.h"
#include "support/fault_sweep.h"
#include "support/jpeg_builder.h"
#include "support/test_stream.h"

namespace qd {
namespace {

// Packed record fields by value: gtest's comparisons bind references.
template <typename T>
T Val(T v) {
  return v;
}

using qdtest::Bytes;
using qdtest::Order;
using qdtest::TestStream;
using qdtest::TiffShape;

// The owner, with the records a caller reads preset with garbage the way a
// caller's stack would hold them.
struct Recognized : Recognition {
  Recognized() {
    std::memset(&sof, 0xAB, sizeof sof);
    std::memset(&jfif, 0xAB, sizeof jfif);
    std::memset(&image, 0xAB, sizeof image);
  }
  Status Run(TestStream& stream) {
    StreamPort port;
    MakeStreamPort(stream.stream(), &port);
    return Recognition::Run(port);
  }
  Status Run(const Bytes& bytes) {
    TestStream stream(bytes);
    return Run(stream);
  }
  // What every declined or failed recognition must leave.
  void ExpectNothingHandedOut() const {
    EXPECT_EQ(kind, kKindNone);
    EXPECT_EQ(Val(heap.block), nullptr);
    EXPECT_EQ(Val(exif.segment), nullptr);
    EXPECT_EQ(Val(extensions.iccProfile), nullptr);
    EXPECT_EQ(Val(extensions.iim), nullptr);
  }
};

struct Fixture {
  std::string name;
  Bytes bytes;
  uint16_t kind;
  bool bigEndian;
  uint32_t ifd0;  // TIFF kinds
};

// An encoded image with `segment` after its JFIF header.
Bytes Jpeg(const Bytes& segment) {
  const Bytes image = qdtest::EncodeJpeg();
  return qdtest::Insert(image, qdtest::SegmentOffset(image, qdtest::marker::kDQT), {segment});
}

std::vector<Fixture> Fixtures() {
  std::vector<Fixture> out;
  for (bool be : {false, true}) {
    const Order order = be ? Order::MM : Order::II;
    const std::string o = be ? "MM " : "II ";
    out.push_back({o + "JPEG with a heap", Jpeg(qdtest::HeapApp0(qdtest::EmbeddedHeapImage(be, "JPGM"))),
                   kKindJpegHeap, be, 0});
    TiffShape small = qdtest::ExifTiffShape(order);
    small.ifd1 = false;
    const qdtest::TiffFile tiff = BuildTiffFile(small);
    const Bytes tiffBytes(tiff.bytes.begin(), tiff.bytes.begin() + tiff.contentEnd);
    out.push_back({o + "Exif JPEG", Jpeg(qdtest::App1(qdtest::App1Payload(tiffBytes))), kKindExifJpeg, be,
                   tiff.ifd0});
    out.push_back({o + "heap file", qdtest::HeapFileFixture(be), kKindHeapFile, be, 0});
    for (bool at8 : {true, false}) {
      TiffShape raw = qdtest::RawTiffShape(order);
      raw.ifd0AtEight = at8;
      raw.privateBlock = {1, 2, 3, 4, 5, 6, 7, 8};
      raw.iptc = {9, 10, 11, 12, 13};
      const qdtest::TiffFile f = BuildTiffFile(raw);
      out.push_back({o + (at8 ? "TIFF RAW" : "TIFF RAW, IFD0 elsewhere"), f.bytes, kKindTiffRaw, be, f.ifd0});
    }
    const qdtest::TiffFile exif = BuildTiffFile(qdtest::ExifTiffShape(order));
    out.push_back({o + "Exif TIFF", exif.bytes, kKindExifTiff, be, exif.ifd0});
    // The Exif pointer wins over the embedded heap.
    TiffShape both = qdtest::RawTiffShape(order);
    both.exifIfd = true;
    const qdtest::TiffFile f = BuildTiffFile(both);
    out.push_back({o + "Exif TIFF with a heap", f.bytes, kKindExifTiff, be, f.ifd0});
  }
  return out;
}

template <typename Record>
bool Zero(const Record& r) {
  const auto* p = reinterpret_cast<const uint8_t*>(&r);
  return std::count(p, p + sizeof r, 0) == static_cast<ptrdiff_t>(sizeof r);
}

// Which record the winner filled; the probes' own tests look at the details.
TEST(Recognize, ClassifiesEveryFixtureKindAndClearsTheRecordsItOwns) {
  for (const Fixture& fx : Fixtures()) {
    SCOPED_TRACE(fx.name);
    const int64_t live = qdtest::LiveBlocks();
    Recognized r;
    ASSERT_EQ(r.Run(fx.bytes), ST_OK);
    ASSERT_EQ(r.kind, fx.kind);
    const bool jpeg = fx.kind == kKindJpegHeap || fx.kind == kKindExifJpeg;
    EXPECT_EQ(Val(r.sof.found), jpeg ? 1 : 0);
    EXPECT_EQ(r.jfif.reserved2[0], 0xAB) << "the JFIF record's tail is the caller's";
    EXPECT_EQ(Zero(r.image), fx.kind != kKindTiffRaw);
    const HeapObject h = r.heap;
    if (fx.kind <= kKindHeapFile) {
      EXPECT_EQ(Bytes(h.heap, h.heap + h.heapLength), qdtest::ImagePropertiesHeap(fx.bigEndian).Build());
    } else {
      EXPECT_EQ(Val(h.block), nullptr);
      EXPECT_EQ(Val(r.exif.byteOrder), fx.bigEndian ? 1 : 0);
      EXPECT_EQ(Val(r.exif.segment) != nullptr, fx.kind == kKindExifJpeg);
    }
    if (fx.kind == kKindExifTiff) EXPECT_EQ(Val(r.exif.ifdOffset), fx.ifd0);
    if (fx.kind == kKindTiffRaw) EXPECT_EQ(Val(r.extensions.iimSize), 5u);
    r.Release();
    EXPECT_EQ(qdtest::LiveBlocks(), live);
  }
}

// A heap file read as TIFF has a huge IFD0 offset ("HE" of "HEAP" in it):
// the TIFF probes must decline it, not fail on it.
Bytes LargeHeapFile(bool bigEndian, const std::string& subtype) {
  qdtest::HeapBuilder root(bigEndian);
  root.Data(0x0805, Bytes(600, 'c'));
  return qdtest::HeapFileBuilder(root).Subtype(subtype).Build();
}

TEST(Recognize, DeclinesWhatNoProbeTakesAndPassesDeclinedFilesOn) {
  for (bool be : {false, true}) {
    const Order order = be ? Order::MM : Order::II;
    TiffShape plain = qdtest::RawTiffShape(order);
    plain.heap.reset();
    TiffShape palette = qdtest::RawTiffShape(order);
    palette.photometric = 3;
    struct Case {
      const char* name;
      Bytes bytes;
      Status expected;  // the TIFF-RAW probe's answer: every probe before it declined
    };
    const Case cases[] = {
        {"heap file of another subtype", qdtest::HeapFileFixture(be, "CCDX"), ST_NOT_FOUND},
        {"heap file without image properties", qdtest::HeapFileFixture(be, "CCDR", false), ST_NOT_FOUND},
        {"TIFF with neither Exif pointer nor heap", BuildTiffFile(plain).bytes, ST_NOT_FOUND},
        {"TIFF RAW with a palette", BuildTiffFile(palette).bytes, ST_UNSUPPORTED},
        {"text", Bytes(600, 'x'), ST_UNSUPPORTED},
        {"heap file of another subtype, large enough for the TIFF probes", LargeHeapFile(be, "CCDX"),
         ST_NOT_FOUND},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << (be ? "MM " : "II ") << c.name);
      const int64_t live = qdtest::LiveBlocks();
      Recognized r;
      EXPECT_EQ(r.Run(c.bytes), c.expected);
      r.ExpectNothingHandedOut();
      EXPECT_EQ(qdtest::LiveBlocks(), live);
    }
  }
}

TEST(Recognize, StreamsTooShortForAnyProbe) {
  // "II", 42, IFD0 at 8, then zeros: a TIFF header and not much else.
  Bytes tiff = {'I', 'I', 42, 0, 8, 0, 0, 0};
  tiff.resize(25, 0);
  for (size_t n = 0; n <= tiff.size(); ++n) {
    SCOPED_TRACE(n);
    // Under 2 bytes the JPEG probe cannot read its marker; under 8 the
    // Exif-TIFF probe cannot read the header; beyond that every probe declines.
    const Status expected = n < 8 ? ST_PAST_END : ST_NOT_FOUND;
    TestStream stream(Bytes(tiff.begin(), tiff.begin() + n));
    Recognized r;
    EXPECT_EQ(r.Run(stream), expected);
    r.ExpectNothingHandedOut();
    for (const qdtest::Call& call : stream.calls()) {
      if (call.callback == qdtest::Callback::Read) EXPECT_LE(call.position, n);
    }
  }
}

}  // namespace
}  // namespace qd
