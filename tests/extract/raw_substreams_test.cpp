// Byte ranges, embedded JPEG images and strip images copied out of RAW files.
#include <gtest/gtest.h>

#include "extract/raw_substreams.h"
#include "frame/fault.h"
#include "support/container_builder.h"
#include "support/fault_sweep.h"
#include "support/jpeg_builder.h"
#include "support/test_stream.h"

namespace {

using qdtest::Bytes;
using qdtest::Callback;
using qdtest::Order;
using qdtest::TestStream;
using qdtest::TiffFile;

constexpr uint32_t kHostError = 0x7E003;

Bytes Numbered(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 3 + 1);
  return b;
}

Bytes Slice(const Bytes& b, uint32_t at, uint32_t n) {
  return Bytes(b.begin() + at, b.begin() + at + n);
}

TEST(CropStream, CopiesRangesInsideTheStreamOnly) {
  const Bytes data = Numbered(40);
  TestStream in(data), out;
  ASSERT_EQ(_cropStream(in.stream(), 30, 10, out.stream()), QD_OK);  // up to the very end
  EXPECT_EQ(out.data(), Slice(data, 30, 10));
  EXPECT_EQ(out.lastOpenMode(), QD_OPEN_WRITE);

  // Nothing out of range is allocated, opened or written.
  const std::pair<uint32_t, uint32_t> outside[] = {{31, 10}, {41, 0}, {0, 41}, {0xFFFFFFFF, 2}};
  qd::fault::FailAllocation(1);
  for (auto [offset, length] : outside) {
    TestStream o;
    EXPECT_EQ(_cropStream(in.stream(), offset, length, o.stream()), QD_E_CORRUPT) << offset;
    EXPECT_EQ(o.TotalCalls(), 0);
  }
  EXPECT_FALSE(qd::fault::Fired());
  qd::fault::FailAllocation(0);

  TestStream empty, noClose;
  EXPECT_EQ(_cropStream(empty.stream(), 0, 0, out.stream()), QD_E_INVALID_ARG);
  in.ClearLog();
  noClose.SetNull(Callback::Close);  // the output needs open, write and close
  EXPECT_EQ(_cropStream(in.stream(), 0, 4, noClose.stream()), QD_E_INVALID_ARG);
  EXPECT_EQ(_cropStream(nullptr, 0, 4, out.stream()), QD_E_INVALID_ARG);
  in.SetNull(Callback::Tell);
  EXPECT_EQ(_cropStream(in.stream(), 0, 4, out.stream()), QD_E_INVALID_ARG);
  EXPECT_EQ(in.TotalCalls() + noClose.TotalCalls(), 0);
}

TEST(CropStream, RestoresThePositionAndWritesWhatTheHostDelivered) {
  const Bytes data = Numbered(40);
  TestStream in(data), out;
  in.LimitTransfers(3);
  uint32_t error = 1;
  in.stream()->seek(&in, QD_SEEK_START, 7, &error);
  ASSERT_EQ(_cropStream(in.stream(), 20, 10, out.stream()), QD_OK);
  EXPECT_EQ(out.data(), Slice(data, 20, 3));
  EXPECT_EQ(in.position(), 7u);

  TestStream liar(data), o2;  // claims more than asked: nothing is written
  liar.ReportCount(Callback::Read, 1, 11);
  EXPECT_EQ(_cropStream(liar.stream(), 0, 10, o2.stream()), QD_E_SHORT_READ);
  EXPECT_TRUE(o2.data().empty());

  TestStream noTell(data), o3;  // without a first tell there is nothing to go back to
  noTell.FailCall(Callback::Tell, 1, kHostError);
  ASSERT_EQ(_cropStream(noTell.stream(), 5, 4, o3.stream()), QD_OK);
  EXPECT_EQ(noTell.position(), 9u);
}

TEST(CropStream, OutputErrors) {
  const Bytes data = Numbered(24);
  // A failed write still closes the output; its close error counts only alone.
  const auto crop = [&](Callback cb) {
    TestStream i(data), o;
    o.FailCall(cb, 1, kHostError);
    if (cb == Callback::Write) o.FailCall(Callback::Close, 1, 5);
    const uint32_t result = _cropStream(i.stream(), 0, 4, o.stream());
    EXPECT_EQ(o.CountOf(Callback::Close), cb == Callback::Open ? 0 : 1);
    return result;
  };
  for (Callback cb : {Callback::Open, Callback::Write, Callback::Close}) {
    EXPECT_EQ(crop(cb), kHostError);
  }
}

// A heap file whose root heap holds the two embedded images.
struct RawFile {
  Bytes first = Numbered(300);
  Bytes second = {0xFF, 0xD8, 0xFF, 0xD9};
  Bytes bytes;
  explicit RawFile(bool withSecond = true) {
    qdtest::HeapBuilder root(true);
    root.Data(0x0805, {'c', 0});
    root.Data(0x2007, first);
    if (withSecond) root.Data(0x2008, second);
    bytes = qdtest::HeapFileBuilder(root).Build();
  }
};

TEST(JpegDataFromRaw, WritesTheSelectedRecordAsItIs) {
  const RawFile raw;
  for (uint8_t which : {1, 2}) {
    TestStream in(raw.bytes), out;
    ASSERT_EQ(qdParseGetJpegDataFromQdRAW(in.stream(), which, out.stream()), QD_OK);
    EXPECT_EQ(out.data(), which == 1 ? raw.first : raw.second);
    EXPECT_FALSE(in.IsOpen() || out.IsOpen());
  }
  TestStream in(raw.bytes), bare;  // the output's open and close are optional
  bare.SetNull(Callback::Open);
  bare.SetNull(Callback::Close);
  ASSERT_EQ(qdParseGetJpegDataFromQdRAW(in.stream(), 1, bare.stream()), QD_OK);
  EXPECT_EQ(bare.data(), raw.first);
}

TEST(JpegDataFromRaw, RefusalsAndPrecedence) {
  const RawFile raw(false);
  TestStream in(raw.bytes), out;
  for (uint8_t which : {0, 3}) {
    EXPECT_EQ(qdParseGetJpegDataFromQdRAW(in.stream(), which, out.stream()), QD_E_INVALID_ARG);
  }
  EXPECT_EQ(qdParseGetJpegDataFromQdRAW(in.stream(), 1, nullptr), QD_E_INVALID_ARG);
  out.SetNull(Callback::Write);
  EXPECT_EQ(qdParseGetJpegDataFromQdRAW(in.stream(), 1, out.stream()), QD_E_INVALID_ARG);
  EXPECT_EQ(in.TotalCalls() + out.TotalCalls(), 0);

  TestStream absent(raw.bytes), o;  // a close error does not hide a failed path
  absent.FailCall(Callback::Close, 1, 5);
  EXPECT_EQ(qdParseGetJpegDataFromQdRAW(absent.stream(), 2, o.stream()), QD_E_FAILED);
  EXPECT_EQ(o.TotalCalls(), 0);
  TestStream tiff(qdtest::BuildTiffFile(qdtest::ExifTiffShape(Order::II)).bytes);
  EXPECT_EQ(qdParseGetJpegDataFromQdRAW(tiff.stream(), 1, o.stream()), QD_E_UNSUPPORTED);
}

using StripExport = decltype(&qdParseGetLCDDataFromTiffRAW);

struct StripRun {
  uint32_t result;
  uint16_t width = 0xABAB, height = 0xABAB;
  Bytes written;
  StripRun(StripExport fn, const Bytes& file, bool withOut = true) {
    TestStream in(file), out;
    result = fn(in.stream(), &width, &height, withOut ? out.stream() : nullptr);
    written = out.data();
    EXPECT_FALSE(in.IsOpen());
  }
};

TEST(StripImages, SizesAndStripsOfBothIfds) {
  for (Order order : {Order::II, Order::MM}) {
    const TiffFile f = qdtest::BuildTiffFile(qdtest::ExifTiffShape(order));
    const StripRun lcd(qdParseGetLCDDataFromTiffRAW, f.bytes);
    ASSERT_EQ(lcd.result, QD_OK);
    EXPECT_EQ(lcd.width, 6);
    EXPECT_EQ(lcd.height, 2);
    EXPECT_EQ(lcd.written, Slice(f.bytes, f.strip, f.stripSize));
    // The fixture's IFD1 is a 2x1 image over the first bytes of the same strip.
    const StripRun twain(qdParseGetTWAINThumbnailDataFromTiffRAW, f.bytes);
    ASSERT_EQ(twain.result, QD_OK);
    EXPECT_EQ(twain.width, 2);
    EXPECT_EQ(twain.height, 1);
    EXPECT_EQ(twain.written, Slice(f.bytes, f.strip, 2));
    const StripRun sizeOnly(qdParseGetTWAINThumbnailDataFromTiffRAW, f.bytes, false);
    EXPECT_EQ(sizeOnly.result, QD_OK);
    EXPECT_EQ(sizeOnly.width, 2);
    EXPECT_EQ(sizeOnly.height, 1);
  }
}

TEST(StripImages, OnlyExifTiffsAreAccepted) {
  const Bytes tiff = qdtest::BuildTiffFile(qdtest::ExifTiffShape(Order::II)).bytes;
  const Bytes others[] = {
      qdtest::AfterSoi(qdtest::EncodeJpeg(), {qdtest::App1(qdtest::App1Payload(tiff))}),  // kind 3
      qdtest::HeapFileFixture(false),                                // kind 2
      qdtest::BuildTiffFile(qdtest::RawTiffShape(Order::MM)).bytes,  // kind 0
      Numbered(600),                                                 // none
      {},
  };
  for (const Bytes& file : others) {
    const int64_t live = qdtest::LiveBlocks();
    const StripRun run(qdParseGetLCDDataFromTiffRAW, file);
    EXPECT_EQ(run.result, QD_E_INVALID_ARG);
    EXPECT_EQ(run.width, 0) << "cleared before the work";
    EXPECT_TRUE(run.written.empty());
    EXPECT_EQ(qdtest::LiveBlocks(), live) << "what recognition handed out is released";
  }
  TestStream in(tiff), out;
  out.SetNull(Callback::Write);
  EXPECT_EQ(qdParseGetLCDDataFromTiffRAW(in.stream(), nullptr, nullptr, out.stream()),
            QD_E_INVALID_ARG);
  EXPECT_EQ(qdParseGetLCDDataFromTiffRAW(nullptr, nullptr, nullptr, nullptr), QD_E_INVALID_ARG);
  EXPECT_EQ(in.TotalCalls(), 0);
}

TEST(StripImages, StripTagsOutsideTheFileOrMissing) {
  qdtest::TiffShape noThumb = qdtest::ExifTiffShape(Order::II);
  noThumb.ifd1 = false;
  const Bytes plain = qdtest::BuildTiffFile(noThumb).bytes;
  const StripRun sizeOnly(qdParseGetTWAINThumbnailDataFromTiffRAW, plain, false);
  EXPECT_EQ(sizeOnly.result, QD_OK);
  EXPECT_EQ(sizeOnly.width, 0);
  EXPECT_EQ(StripRun(qdParseGetTWAINThumbnailDataFromTiffRAW, plain).result, QD_E_CORRUPT);

  TiffFile f = qdtest::BuildTiffFile(qdtest::ExifTiffShape(Order::MM));
  f.SetIfd0Field(0x0117, 0xFFFFFF00u);  // StripByteCounts beyond any stream
  const StripRun huge(qdParseGetLCDDataFromTiffRAW, f.bytes);
  EXPECT_EQ(huge.result, QD_E_CORRUPT);
  EXPECT_TRUE(huge.written.empty());
  f.SetIfd0Field(0x0117, 2);
  f.SetIfd0Field(0x0111, static_cast<uint32_t>(f.bytes.size() - 1));
  EXPECT_EQ(StripRun(qdParseGetLCDDataFromTiffRAW, f.bytes).result, QD_E_CORRUPT);
}

}  // namespace
