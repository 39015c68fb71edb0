// The frame-header exports: QDParseGetJPEGInfo describes the baseline frame,
// QDParseGetSOFData copies the first frame header; and the marker scan.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/jpeg_builder.h"
#include "support/test_stream.h"
#include "tiffjpeg/jpeg_stream.h"

namespace qdtest {
namespace {

using namespace marker;
using Nums = std::vector<uint16_t>;

// The first frame header's length field and payload, as the file holds them.
Bytes FrameHeader(const Bytes& jpeg, uint8_t m) {
  const size_t at = SegmentOffset(jpeg, m) + 2;
  return Bytes(jpeg.begin() + at, jpeg.begin() + at + (jpeg[at] << 8 | jpeg[at + 1]));
}

TEST(FrameExports, InfoOfTheBaselineFrameAndACopyOfTheFirstFrameHeader) {
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
      {"grey",
       EncodeJpeg(grey),
       QD_OK,
       {40, 24, 1, 0x11},
       QD_OK,
       FrameHeader(EncodeJpeg(grey), kSOF0)},
      {"odd sampling", jpeg, QD_OK, {17, 24, 3, 0x12}, QD_OK, FrameHeader(jpeg, kSOF0)},
      {"progressive",
       EncodeJpeg(progressive),
       QD_E_UNSUPPORTED,
       {0, 0, 0, 0},
       QD_OK,
       FrameHeader(EncodeJpeg(progressive), kSOF2)},
      {"empty frames first",
       Insert(jpeg, frame, {Segment(kSOF1, {}, 0), Segment(kSOF2, {}, 2)}),
       QD_OK,
       {17, 24, 3, 0x12},
       QD_OK,
       FrameHeader(jpeg, kSOF0)},
      {"a TIFF mark first",
       Insert(jpeg, 0, {{'I', 'I'}}),
       QD_E_UNSUPPORTED,
       {0, 0, 0, 0},
       QD_OK,
       FrameHeader(jpeg, kSOF0)},
      {"no frame",
       Concat({{0xFF, kSOI}, Segment(kCOM, {'x'}), {0xFF, kEOI}}),
       QD_E_UNSUPPORTED,
       {0, 0, 0, 0},
       QD_OK,
       {}},
      {"a frame cut by the end",
       Bytes(jpeg.begin(), jpeg.begin() + frame + 10),
       QD_E_FAILED,
       {0, 0, 0, 0},
       QD_E_FAILED,
       {}},
      {"one byte", {0xFF}, QD_E_FAILED, {0, 0, 0, 0}, QD_E_UNSUPPORTED, {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    TestStream in(row.bytes), out(Bytes(4, 0xEE));
    JpegImageInfo info;
    std::memset(&info, 0xA5, sizeof info);
    EXPECT_EQ(QDParseGetJPEGInfo(in.stream(), &info), row.infoResult);
    EXPECT_EQ((Nums{info.width, info.height, info.components, info.sampling}), row.info);
    EXPECT_EQ(in.lastOpenMode(), QD_OPEN_READ);
    out.LimitTransfers(5);
    EXPECT_EQ(QDParseGetSOFData(in.stream(), out.stream()), row.copyResult);
    EXPECT_EQ(out.data(), row.copied.empty() ? Bytes(4, 0xEE) : row.copied);
    EXPECT_EQ(out.TotalCalls() != 0, !row.copied.empty())
        << "the destination is opened for a whole frame only";
    if (!row.copied.empty()) EXPECT_EQ(out.lastOpenMode(), QD_OPEN_UPDATE);
    EXPECT_FALSE(in.IsOpen() || out.IsOpen());
  }
  // The source's close error wins even over a completed copy.
  TestStream source(jpeg), destination;
  source.FailCall(Callback::Close, 1, 0x7E570022);
  EXPECT_EQ(QDParseGetSOFData(source.stream(), destination.stream()), 0x7E570022u);
  EXPECT_EQ(destination.data(), FrameHeader(jpeg, kSOF0));
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
