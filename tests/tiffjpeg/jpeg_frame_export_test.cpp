// The exports that read a JPEG frame header: QDParseGetJPEGInfo describes
// the baseline frame, QDParseGetSOFData copies the first frame header.
#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#include "support/jpeg_builder.h"
#include "support/test_stream.h"

namespace qdtest {
namespace {

using namespace marker;

JpegShape Shape(uint8_t components, uint8_t sampling, bool progressive = false, uint16_t width = 40) {
  JpegShape s;
  s.components = components;
  s.sampling = sampling;
  s.progressive = progressive;
  s.jfif = width == 40;
  s.width = width;
  s.height = width == 40 ? 24 : 9;
  return s;
}

// The first frame header's length field and payload, as the file holds them.
Bytes FrameHeader(const Bytes& jpeg, uint8_t m) {
  const size_t at = SegmentOffset(jpeg, m) + 2;
  return Bytes(jpeg.begin() + static_cast<ptrdiff_t>(at),
               jpeg.begin() + static_cast<ptrdiff_t>(at + (jpeg[at] << 8 | jpeg[at + 1])));
}

uint32_t GetInfo(const Bytes& bytes, JpegImageInfo* info) {
  TestStream s(bytes);
  std::memset(info, 0xA5, sizeof *info);
  const uint32_t result = QDParseGetJPEGInfo(s.stream(), info);
  EXPECT_EQ(s.lastOpenMode(), QD_OPEN_READ);
  EXPECT_FALSE(s.IsOpen());
  return result;
}

bool Zero(const JpegImageInfo& info) {
  return info.width == 0 && info.height == 0 && info.components == 0 && info.sampling == 0;
}

class FrameExports : public testing::TestWithParam<JpegShape> {};

TEST_P(FrameExports, JpegInfoDescribesTheBaselineFrameOnly) {
  const JpegShape& shape = GetParam();
  const Bytes jpeg = EncodeJpeg(shape);
  JpegImageInfo info;
  const uint32_t result = GetInfo(jpeg, &info);
  if (shape.progressive) {
    EXPECT_EQ(result, QD_E_UNSUPPORTED);
    EXPECT_TRUE(Zero(info));
    return;
  }
  ASSERT_EQ(result, QD_OK);
  const uint8_t sampling = shape.components == 1 ? 0x11 : shape.sampling;
  ASSERT_EQ(FrameHeader(jpeg, kSOF0)[2 + 7], sampling) << "the encoder did not write the sampling asked for";
  EXPECT_EQ((std::vector<uint16_t>{info.width, info.height, info.components, info.sampling}),
            (std::vector<uint16_t>{shape.width, shape.height, shape.components, sampling}));
}

TEST_P(FrameExports, SofDataCopiesTheFrameHeaderFromItsLengthField) {
  const Bytes jpeg = EncodeJpeg(GetParam());
  const Bytes header = FrameHeader(jpeg, GetParam().progressive ? kSOF2 : kSOF0);
  for (uint32_t chunk : {0u, 5u}) {
    SCOPED_TRACE(testing::Message() << "transfers of at most " << chunk);
    TestStream source(jpeg);
    TestStream destination(Bytes(64, 0xEE));
    destination.LimitTransfers(chunk);
    ASSERT_EQ(QDParseGetSOFData(source.stream(), destination.stream()), QD_OK);
    EXPECT_EQ(source.lastOpenMode(), QD_OPEN_READ);
    EXPECT_EQ(destination.lastOpenMode(), QD_OPEN_UPDATE);
    EXPECT_FALSE(source.IsOpen() || destination.IsOpen());
    EXPECT_EQ(destination.data(), Concat({header, Bytes(64 - header.size(), 0xEE)}));
  }
}

INSTANTIATE_TEST_SUITE_P(Shapes, FrameExports,
                         testing::Values(Shape(1, 0x11), Shape(3, 0x22), Shape(3, 0x21, false, 17), Shape(3, 0x12),
                                         Shape(1, 0x11, true), Shape(3, 0x22, true, 17)));

TEST(JpegInfo, DeclinesWhatHasNoReadableBaselineFrame) {
  const Bytes jpeg = EncodeJpeg();
  const size_t frame = SegmentOffset(jpeg, kSOF0);
  const Bytes exif = Segment(kAPP1, {'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 0, 42});
  const std::pair<const char*, Bytes> unsupported[] = {
      {"no SOI first", Bytes(jpeg.begin() + 2, jpeg.end())},
      {"a TIFF mark first", Insert(jpeg, 0, {{'I', 'I'}})},
      {"no frame", Concat({{0xFF, kSOI}, exif, {0xFF, kEOI}})},
      {"the stream ends before the frame", Bytes(jpeg.begin(), jpeg.begin() + static_cast<ptrdiff_t>(frame))},
      {"a baseline frame too short for the first component", Insert(jpeg, frame, {Segment(kSOF0, {8, 0, 5, 0, 7, 1, 1})})},
      {"a baseline frame with a length of 2", Insert(jpeg, frame, {Segment(kSOF0, {}, 2)})},
      {"one byte", Bytes{0xFF}},
  };
  JpegImageInfo info;
  for (const auto& [what, bytes] : unsupported) {
    SCOPED_TRACE(what);
    EXPECT_EQ(GetInfo(bytes, &info), bytes.size() < 2 ? QD_E_FAILED : QD_E_UNSUPPORTED);
    EXPECT_TRUE(Zero(info));
  }
  // The record is optional, and so are open and close.
  TestStream s(jpeg);
  s.SetNull(Callback::Open);
  s.SetNull(Callback::Close);
  EXPECT_EQ(QDParseGetJPEGInfo(s.stream(), nullptr), QD_OK);
  s.SetNull(Callback::Seek);
  EXPECT_EQ(QDParseGetJPEGInfo(s.stream(), &info), QD_E_INVALID_ARG);
}

TEST(SofData, WritesNothingWithoutAWholeFrameAndPassesOverEmptyOnes) {
  const Bytes jpeg = EncodeJpeg();
  const size_t frame = SegmentOffset(jpeg, kSOF0);
  const struct {
    const char* what;
    Bytes source;
    uint32_t result;
    Bytes written;
    bool opened;
  } cases[] = {
      {"no frame", Concat({{0xFF, kSOI}, Segment(kCOM, {'x'}), {0xFF, kEOI}}), QD_OK, {}, false},
      {"frame headers with a length of 2 or less first",
       Insert(jpeg, frame, {Segment(kSOF1, {}, 0), Segment(kSOF2, {}, 2)}), QD_OK, FrameHeader(jpeg, kSOF0), true},
      {"a frame whose length runs past the end", Bytes(jpeg.begin(), jpeg.begin() + static_cast<ptrdiff_t>(frame) + 10),
       QD_E_FAILED, {}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TestStream source(c.source), destination;
    EXPECT_EQ(QDParseGetSOFData(source.stream(), destination.stream()), c.result);
    EXPECT_EQ(destination.data(), c.written);
    EXPECT_EQ(destination.TotalCalls() != 0, c.opened) << "the destination is opened only for a whole frame";
    EXPECT_FALSE(source.IsOpen());
  }
}

TEST(SofData, CallbacksItNeedsAndWhoseErrorWins) {
  const Bytes jpeg = EncodeJpeg();
  for (bool onSource : {true, false}) {
    for (Callback cb : {Callback::Open, Callback::Close, Callback::Seek, Callback::Tell,
                        onSource ? Callback::Read : Callback::Write}) {
      SCOPED_TRACE(testing::Message() << (onSource ? "source " : "destination ") << CallbackName(cb));
      TestStream source(jpeg), destination;
      (onSource ? source : destination).SetNull(cb);
      EXPECT_EQ(QDParseGetSOFData(source.stream(), destination.stream()), QD_E_INVALID_ARG);
      EXPECT_EQ(source.TotalCalls() + destination.TotalCalls(), 0);
    }
  }
  TestStream source(jpeg), destination;
  EXPECT_EQ(QDParseGetSOFData(nullptr, destination.stream()), QD_E_INVALID_ARG);
  EXPECT_EQ(QDParseGetSOFData(source.stream(), nullptr), QD_E_INVALID_ARG);

  // The source's close error wins even over a completed copy.
  TestStream s2(jpeg), d2;
  s2.FailCall(Callback::Close, 1, 0x7E570022);
  EXPECT_EQ(QDParseGetSOFData(s2.stream(), d2.stream()), 0x7E570022u);
  EXPECT_EQ(d2.data(), FrameHeader(jpeg, kSOF0));
}

}  // namespace
}  // namespace qdtest
