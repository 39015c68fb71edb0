// Byte ranges, embedded JPEG images and strip images copied out of RAW files.
#include <gtest/gtest.h>

#include "extract/raw_substreams.h"
#include "support/container_builder.h"
#include "support/fault_sweep.h"
#include "support/jpeg_builder.h"
#include "support/test_stream.h"

namespace {

using namespace qdtest;

constexpr uint32_t kHostError = 0x7E003;

Bytes Numbered(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 3 + 1);
  return b;
}

Bytes Slice(const Bytes& b, uint32_t at, uint32_t n) {
  return Bytes(b.begin() + at, b.begin() + at + n);
}

TEST(CropStream, CopiesRangesInsideTheStreamAndGoesBackWhereItWas) {
  const Bytes data = Numbered(40);
  const struct {
    uint32_t offset, length, result;
  } rows[] = {{30, 10, QD_OK}, {31, 10, QD_E_CORRUPT}, {41, 0, QD_E_CORRUPT},
              {0xFFFFFFFF, 2, QD_E_CORRUPT}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.offset);
    TestStream in(data), out;
    uint32_t error = 1;
    in.stream()->seek(&in, QD_SEEK_START, 7, &error);
    EXPECT_EQ(_cropStream(in.stream(), row.offset, row.length, out.stream()), row.result);
    EXPECT_EQ(out.data(), row.result == QD_OK ? Slice(data, row.offset, row.length) : Bytes{});
    EXPECT_EQ(in.position(), 7u);
  }
  TestStream empty, in(data), liar(data), out;
  EXPECT_EQ(_cropStream(empty.stream(), 0, 0, out.stream()), QD_E_INVALID_ARG);
  // A read that claims more than asked: nothing is written.
  liar.ReportCount(Callback::Read, 1, 11);
  EXPECT_EQ(_cropStream(liar.stream(), 0, 10, out.stream()), QD_E_SHORT_READ);
  EXPECT_EQ(out.TotalCalls(), 0);
  out.FailCall(Callback::Close, 1, kHostError);  // the output's close error counts alone
  EXPECT_EQ(_cropStream(in.stream(), 0, 4, out.stream()), kHostError);
  EXPECT_EQ(out.data(), Slice(data, 0, 4));
}

TEST(JpegDataFromRaw, WritesTheSelectedRecordAsItIs) {
  HeapBuilder root(true);
  root.Data(0x0805, {'c', 0});
  root.Data(0x2007, Numbered(300));
  const Bytes raw = HeapFileBuilder(root).Build();
  TestStream in(raw), out, bare, o2;
  ASSERT_EQ(qdParseGetJpegDataFromQdRAW(in.stream(), 1, out.stream()), QD_OK);
  EXPECT_EQ(out.data(), Numbered(300));
  EXPECT_FALSE(in.IsOpen() || out.IsOpen());
  bare.SetNull(Callback::Open);  // the output's open and close are optional
  bare.SetNull(Callback::Close);
  ASSERT_EQ(qdParseGetJpegDataFromQdRAW(in.stream(), 1, bare.stream()), QD_OK);
  EXPECT_EQ(bare.data(), Numbered(300));
  EXPECT_EQ(qdParseGetJpegDataFromQdRAW(in.stream(), 2, o2.stream()), QD_E_FAILED);
  EXPECT_EQ(o2.TotalCalls(), 0);
}

struct StripRun {
  uint32_t result;
  uint16_t width = 0xABAB, height = 0xABAB;
  Bytes written;
  StripRun(decltype(&qdParseGetLCDDataFromTiffRAW) fn, const Bytes& file, bool withOut = true) {
    TestStream in(file), out;
    result = fn(in.stream(), &width, &height, withOut ? out.stream() : nullptr);
    written = out.data();
  }
};

TEST(StripImages, SizesAndStripsOfBothIfdsOfExifTiffsOnly) {
  const TiffFile f = BuildTiffFile(ExifTiffShape(Order::MM));
  const StripRun lcd(qdParseGetLCDDataFromTiffRAW, f.bytes);
  ASSERT_EQ(lcd.result, QD_OK);
  EXPECT_EQ(lcd.width * 100 + lcd.height, 602);
  EXPECT_EQ(lcd.written, Slice(f.bytes, f.strip, f.stripSize));
  // The fixture's IFD1 is a 2x1 image over the first bytes of the same strip.
  const StripRun twain(qdParseGetTWAINThumbnailDataFromTiffRAW, f.bytes);
  ASSERT_EQ(twain.result, QD_OK);
  EXPECT_EQ(twain.width * 100 + twain.height, 201);
  EXPECT_EQ(twain.written, Slice(f.bytes, f.strip, 2));

  const StripRun sizeOnly(qdParseGetTWAINThumbnailDataFromTiffRAW, f.bytes, false);
  EXPECT_EQ(sizeOnly.result * 10000 + sizeOnly.width * 100 + sizeOnly.height, 201u);

  TiffFile huge = f, noCounts = f;
  huge.SetIfd0Field(0x0117, 0xFFFFFF00u);  // beyond any stream
  for (uint32_t at = f.ifd0 + 2; GetU16(&f.bytes[at], true) <= 0x117; at += 12) {
    if (GetU16(&f.bytes[at], true) == 0x117) PutU16(noCounts.bytes, at, 0x118, true);
  }
  TiffShape plain = ExifTiffShape(Order::II);
  plain.ifd1 = false;
  const struct {
    Bytes file;
    uint32_t result;
    bool ifd1;
  } others[] = {
      {huge.bytes, QD_E_CORRUPT, false}, {noCounts.bytes, QD_E_CORRUPT, false},
      {BuildTiffFile(plain).bytes, QD_E_CORRUPT, true}, {{}, QD_E_INVALID_ARG, true},
      {HeapFileFixture(false), QD_E_INVALID_ARG, false},
      {BuildTiffFile(RawTiffShape(Order::MM)).bytes, QD_E_INVALID_ARG, false},
      {AfterSoi(EncodeJpeg(), {App1(App1Payload(f.bytes))}), QD_E_INVALID_ARG, false}};
  for (const auto& row : others) {
    const StripRun run(row.ifd1 ? qdParseGetTWAINThumbnailDataFromTiffRAW
                                : qdParseGetLCDDataFromTiffRAW, row.file);
    EXPECT_EQ(run.result, row.result);
    EXPECT_TRUE(run.written.empty());
  }
}

}  // namespace
