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

using qdtest::Bytes;
using qdtest::TiffShape;

// An encoded image with `segment` after its JFIF header.
Bytes Jpeg(const Bytes& segment) {
  const Bytes image = qdtest::EncodeJpeg();
  return qdtest::Insert(image, qdtest::SegmentOffset(image, qdtest::marker::kDQT), {segment});
}

TEST(Recognize, EachKindByItsProbeAndNothingHeldAfterADecline) {
  for (bool be : {false, true}) {
    SCOPED_TRACE(be ? "MM" : "II");
    const qdtest::Order order = be ? qdtest::Order::MM : qdtest::Order::II;
    TiffShape raw = qdtest::RawTiffShape(order);
    raw.privateBlock = {1, 2, 3, 4, 5, 6, 7, 8};
    raw.iptc = {9, 10, 11, 12, 13};
    TiffShape elsewhere = raw, plain = raw, palette = raw, both = raw;
    elsewhere.ifd0AtEight = false;
    plain.heap.reset();
    palette.photometric = 3;
    both.exifIfd = true;  // the Exif pointer wins over the embedded heap
    const Bytes exifTiff = BuildTiffFile(qdtest::ExifTiffShape(order)).bytes;
    qdtest::HeapBuilder text(be);  // read as TIFF, its IFD0 offset is huge
    text.Data(0x0805, Bytes(600, 'c'));
    const struct {
      const char* name;
      Bytes bytes;
      Status status;
      uint16_t kind;
    } rows[] = {
        {"JPEG with a heap", Jpeg(qdtest::HeapApp0(qdtest::EmbeddedHeapImage(be, "JPGM"))), ST_OK,
         kKindJpegHeap},
        {"Exif JPEG", Jpeg(qdtest::App1(qdtest::App1Payload(exifTiff))), ST_OK, kKindExifJpeg},
        {"heap file", qdtest::HeapFileFixture(be), ST_OK, kKindHeapFile},
        {"TIFF RAW", BuildTiffFile(raw).bytes, ST_OK, kKindTiffRaw},
        {"TIFF RAW, IFD0 elsewhere", BuildTiffFile(elsewhere).bytes, ST_OK, kKindTiffRaw},
        {"Exif TIFF", exifTiff, ST_OK, kKindExifTiff},
        {"Exif TIFF with a heap", BuildTiffFile(both).bytes, ST_OK, kKindExifTiff},
        // Declined by every probe: the TIFF-RAW probe's answer.
        {"heap file of another subtype", qdtest::HeapFileFixture(be, "CCDX"), ST_NOT_FOUND, kKindNone},
        {"large one", qdtest::HeapFileBuilder(text).Subtype("CCDX").Build(), ST_NOT_FOUND, kKindNone},
        {"no image properties", qdtest::HeapFileFixture(be, "CCDR", false), ST_NOT_FOUND, kKindNone},
        {"TIFF with neither", BuildTiffFile(plain).bytes, ST_NOT_FOUND, kKindNone},
        {"TIFF RAW with a palette", BuildTiffFile(palette).bytes, ST_UNSUPPORTED, kKindNone},
        {"text", Bytes(600, 'x'), ST_UNSUPPORTED, kKindNone},
        {"a bare TIFF header", {'I', 'I', 42, 0, 8, 0, 0, 0}, ST_NOT_FOUND, kKindNone},
        {"seven bytes of it", {'I', 'I', 42, 0, 8, 0, 0}, ST_PAST_END, kKindNone},
    };
    for (const auto& row : rows) {
      SCOPED_TRACE(row.name);
      const int64_t live = qdtest::LiveBlocks();
      {
        qdtest::TestStream stream(row.bytes);
        StreamPort port;
        MakeStreamPort(stream.stream(), &port);
        Recognition r;
        ASSERT_EQ(r.Run(port), row.status);
        EXPECT_EQ(r.kind, row.kind);
        if (row.kind == kKindTiffRaw) EXPECT_EQ(+r.extensions.iimSize, 5u);
        if (row.kind == kKindExifJpeg || row.kind == kKindExifTiff) EXPECT_EQ(+r.exif.byteOrder, be ? 1 : 0);
        if (row.status != ST_OK) {
          EXPECT_EQ(+r.heap.block, nullptr);
          EXPECT_EQ(+r.exif.segment, nullptr);
          EXPECT_EQ(+r.extensions.iccProfile, nullptr);
          EXPECT_EQ(+r.extensions.iim, nullptr);
        }
      }
      EXPECT_EQ(qdtest::LiveBlocks(), live);
    }
  }
}

}  // namespace
}  // namespace qd
