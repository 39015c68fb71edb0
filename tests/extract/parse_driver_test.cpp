// The parse driver and its exports: file type codes, the JPEG frame pre-fill,
// the bracketing of host callbacks and the precedence of results.
#include <gtest/gtest.h>

#include "exifwrite/exif_support.h"
#include "extract/parse_support.h"

namespace {

using namespace qdtest;
using namespace qdtest::parse;

constexpr uint32_t kHostError = 0x7E001;

using ParseDriver = ParseTest;

TEST_F(ParseDriver, FileTypeCodesWithoutOpeningTheStreamAndTheSecondNames) {
  const struct {
    Bytes file;
    uint8_t type;
  } rows[] = {{HeapFile(RichHeap(true), true), 1}, {JpegHeap(RichHeap(false), false), 2},
              {TiffRaw(RichHeap(true), true), 3},  {RichExifJpeg(false), 5},
              {RawExifTiff(Order::MM).file, 8},    {Bytes(600, 0x55), 0xFF}};
  for (const auto& row : rows) {
    SCOPED_TRACE(+row.type);
    TestStream in(row.file);
    uint8_t type = 0;
    QdAuxImageInfo aux;
    std::memset(&aux, 0xA5, sizeof aux);
    const uint32_t result = QDParseStream2(in.stream(), nullptr, nullptr, &aux, nullptr, nullptr, &type);
    EXPECT_EQ(result, row.type == 0xFF ? QD_E_UNSUPPORTED : QD_OK);
    EXPECT_EQ(type, row.type);
    EXPECT_EQ(in.CountOf(Callback::Open) + in.CountOf(Callback::Close), 0);
    if (row.type <= 3 || row.type == 0xFF) EXPECT_TRUE(AllZero(aux));
    const Parsed second = Parse(row.file, 9, QDParseGetFileStream2);
    EXPECT_EQ(second.property, Parse(row.file, 9).property);
    EXPECT_EQ(Describe(second.image), Describe(Parse(row.file, 9).image));
  }
}

TEST_F(ParseDriver, JpegFrameFillsTheDescriptionsEvenWhenThePathFails) {
  HeapContent h = RichHeap(false);
  h.erase(0x080A);
  const Parsed p = Parse(JpegHeap(h, false));
  EXPECT_EQ(p.result, QD_E_UNSUPPORTED);
  EXPECT_EQ(Describe(p.thumb), "'' format 2 bits 0/0 colour 0 40x24 aspect 0 res 0x0");
  EXPECT_EQ(Describe(p.image).substr(0, 53), "'' format 2 bits 0/0 colour 0 40x24 aspect 0 res 0x0 ");
  EXPECT_EQ(Describe(p.capture), "time 0 number ffffffff owner '' type ''");
  EXPECT_EQ(Describe(p.shot), "-1 100 100 -1 ffff ff");
}

TEST_F(ParseDriver, HostErrorsOutrankTheWorkAsEachExportSays) {
  HeapContent broken = RichHeap(false);
  broken.erase(0x180E);
  const Bytes failing = JpegHeap(broken, false);  // recognised, then the path fails
  const auto run = [](const Bytes& file, Callback cb, int nth, bool thumbnail) {
    TestStream in(file);
    in.FailCall(cb, nth, kHostError);
    const uint32_t result = thumbnail ? QDParseThumbnailFileStream(in.stream(), 0, nullptr, nullptr, nullptr,
                                                                   nullptr, nullptr, nullptr, nullptr)
                                      : QDParseFullViewFileStream(in.stream(), nullptr, nullptr, nullptr,
                                                                  nullptr, nullptr, nullptr);
    return result;
  };
  // A close error after a failing path: the thumbnail exports report it, the
  // full-view ones the path's error.
  EXPECT_EQ(run(failing, Callback::Close, 1, true), kHostError);
  EXPECT_EQ(run(failing, Callback::Close, 1, false), QD_E_UNSUPPORTED);
  // A read error while the probes look at the file is handed back as it is.
  EXPECT_EQ(run(RichExifJpeg(false), Callback::Read, 1, true), kHostError);
  EXPECT_EQ(run(RichExifJpeg(false), Callback::Tell, 1, false), kHostError);  // the size, after open

  // The full-view exports measure the stream; the thumbnail exports take the caller's size.
  const Bytes good = RichExifJpeg(false);
  QdImageInfo image;
  TestStream in(good), again(good);
  ASSERT_EQ(QDParseFullViewFileStream(in.stream(), &image, nullptr, nullptr, nullptr, nullptr, nullptr), QD_OK);
  EXPECT_FLOAT_EQ(+image.compressedBitsPerPixel, good.size() * 8.0f / (640 * 480));
  ASSERT_EQ(QDParseThumbnailFileStream(again.stream(), 0, nullptr, &image, nullptr, nullptr, nullptr, nullptr,
                                       nullptr),
            QD_OK);
  EXPECT_FLOAT_EQ(+image.compressedBitsPerPixel, 1.0f);
}

}  // namespace
