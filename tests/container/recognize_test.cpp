// Container recognition over whole files: which probe takes which file, and
// that a declined or failed recognition holds nothing.
#include <gtest/gtest.h>

#include "container/recognize.h"
#include "support/container_builder.h"
#include "support/fault_sweep.h"
#include "support/jpeg_builder.h"
#include "support/test_stream.h"

namespace qd {
namespace {

using namespace qdtest;
using qdtest::Bytes;

// An encoded image with `segment` after its JFIF header.
Bytes Jpeg(const Bytes& segment) {
  const Bytes image = EncodeJpeg();
  return Insert(image, SegmentOffset(image, marker::kDQT), {segment});
}

TEST(Recognize, EachKindByItsProbeAndNothingHeldAfterADecline) {
  for (bool be : {false, true}) {
    SCOPED_TRACE(be ? "MM" : "II");
    const Order order = be ? Order::MM : Order::II;
    TiffShape raw = RawTiffShape(order);
    raw.privateBlock = {1, 2, 3, 4, 5, 6, 7, 8};
    raw.iptc = {9, 10, 11, 12, 13};
    TiffShape plain = raw, palette = raw, both = raw;
    plain.heap.reset();
    palette.photometric = 3;
    both.exifIfd = true;  // the Exif pointer wins over the embedded heap
    const Bytes exifTiff = BuildTiffFile(ExifTiffShape(order)).bytes;
    HeapBuilder text(be);  // large enough for the TIFF probes, to which its IFD0 is far off
    text.Data(0x0805, Bytes(600, 'c'));
    const Bytes otherHeapFile = HeapFileBuilder(text).Subtype("CCDX").Build();
    const struct {
      const char* name;
      Bytes bytes;
      Status status;
      uint16_t kind;
    } rows[] = {
        {"JPEG with a heap", Jpeg(HeapApp0(EmbeddedHeapImage(be, "JPGM"))), ST_OK, kKindJpegHeap},
        {"Exif JPEG", Jpeg(App1(App1Payload(exifTiff))), ST_OK, kKindExifJpeg},
        {"heap file", HeapFileFixture(be), ST_OK, kKindHeapFile},
        {"TIFF RAW", BuildTiffFile(raw).bytes, ST_OK, kKindTiffRaw},
        {"Exif TIFF", exifTiff, ST_OK, kKindExifTiff},
        {"Exif TIFF with a heap", BuildTiffFile(both).bytes, ST_OK, kKindExifTiff},
        // Declined by every probe: the TIFF-RAW probe's answer.
        {"heap file of another subtype", otherHeapFile, ST_NOT_FOUND, kKindNone},
        {"no image properties", HeapFileFixture(be, "CCDR", false), ST_NOT_FOUND, kKindNone},
        {"TIFF with neither", BuildTiffFile(plain).bytes, ST_NOT_FOUND, kKindNone},
        {"TIFF RAW with a palette", BuildTiffFile(palette).bytes, ST_UNSUPPORTED, kKindNone},
        {"text", Bytes(600, 'x'), ST_UNSUPPORTED, kKindNone},
        {"seven bytes of it", {'I', 'I', 42, 0, 8, 0, 0}, ST_PAST_END, kKindNone},
    };
    for (const auto& row : rows) {
      SCOPED_TRACE(row.name);
      const int64_t live = LiveBlocks();
      {
        TestStream stream(row.bytes);
        StreamPort port;
        MakeStreamPort(stream.stream(), &port);
        Recognition r;
        ASSERT_EQ(r.Run(port), row.status);
        EXPECT_EQ(r.kind, row.kind);
        if (row.kind == kKindTiffRaw) EXPECT_EQ(+r.extensions.iimSize, 5u);
        if (row.kind == kKindExifJpeg || row.kind == kKindExifTiff) {
          EXPECT_EQ(+r.exif.byteOrder, be ? 1 : 0);
        }
        if (row.status != ST_OK) {
          EXPECT_EQ(+r.heap.block, nullptr);
          EXPECT_EQ(+r.exif.segment, nullptr);
          EXPECT_EQ(+r.extensions.iccProfile, nullptr);
          EXPECT_EQ(+r.extensions.iim, nullptr);
        }
      }
      EXPECT_EQ(LiveBlocks(), live);
    }
  }
}

}  // namespace
}  // namespace qd
