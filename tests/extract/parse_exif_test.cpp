// The Exif path: Exif JPEG files (the block in memory) and TIFF files with an
// Exif IFD (read through the stream), described and their properties written
// back as the typed records the Exif writer takes.
#include <gtest/gtest.h>

#include "exifwrite/exif_support.h"
#include "extract/parse_support.h"

namespace {

using namespace qdtest;
using namespace qdtest::parse;

// Records that come back unchanged from a parse, in the writer's form. The
// model ("Vedra Q10") lacks records 13 and 29, so 0x0D returns as 0x81 and
// 0x1D as 0x82; 0x3A makes the model flag; 0x07 is orientation 8.
RecordList SentRecords() {
  Le custom;
  for (uint16_t i = 0; i < 16; ++i) custom.u16(static_cast<uint16_t>(0x0D00 + i));
  RecordList r = {
      {0x02, Le().u16(5).u16(0)}, {0x03, Le().u32(1).u32(2).u32(3)},
      {0x04, Le().u32(350u << 16).u32(2400u << 16 | 3200)}, {0x06, Le().u16(6).u16(7)},
      {0x07, Le().u32(270).u16(0)}, {0x09, Le().u16(3)}, {0x0C, Le().u16(200)}, {0x0D, custom},
      {0x08, Le().u32(350).u32(10).u32(3200).u32(1).u32(2400).u32(1).u16(2)},
      {0x0A, Le().u16(18).u16(1).u16(2).u16(0xFFFF).u16(4).u16(5).u16(6).u16(0x7FFF).u16(8)},
      {0x0E, Le().u32(0x11223344)}, {0x14, Le().u16(20).u16(21).u16(32)},
      {0x16, Le().u16(22).f32(1.5f)}, {0x17, Le().f32(-0.75f)},
      {0x18, Le().u16(14).u16(0x31).u16(0x32).u16(0x33).u16(0x34).u16(0x35).u16(0x36)},
      {0x1A, Le().u16(0x1A).u16(0x1B)}, {0x2D, Le().u32(1).u32(250)}, {0x2E, Le().u32(56).u32(10)},
      {0x2F, Le().u32(8).u32(1)}, {0x30, Le().u32(5).u32(1)}, {0x32, Le().u16(16)},
      {0x34, Le().u16(1)}, {0x35, Le().u16(0)}, {0x36, Le().u16(1)}, {0x37, Le().u32(100).u32(100)},
      {0x38, Le().u16(2)}, {0x39, Le().u16(1)}, {0x3A, Le().u32(0x01B20000)},
      {0x3B, Le().u16(0x3B).u16(1)}, {0x3C, Le().u32(0x3C)}, {0x80, Le().u32(6).text("Vedra").u8(0)},
      {0x83, Le().u32(180)}, {0x85, Le().u16(1)}, {0x8E, Bytes{0x8E, 1}},
      {0x90, Le().u32(0x00050006)}, {0x10A, Bytes{3, 0}}, {0x111, Le().u32(0x111).u32(2)},
  };
  for (uint16_t code : {0x0F, 0x10, 0x11, 0x12, 0x13, 0x15, 0x19, 0x2B, 0x2C, 0x84, 0x86, 0x8D, 0x108}) {
    r.push_back({code, Le().u16(code)});
  }
  for (uint16_t code = 0x1B; code <= 0x2A; ++code) r.push_back({code, Le().u16(code).u16(1)});
  return r;
}

// An Exif block from the writer, and the files around it.
struct Writer {
  ExifImageInfo image = Image("Vedra Q10", 640, 480, 300);
  ExifCaptureInfo capture{1700000000, 1000123, "Test Owner", "JPEG test image"};
  ExifShotValues shot{5.0f, 8.0f, -0.5f, 2.0f, 400, 1};
  RecordList records = SentRecords();

  Bytes Jpeg(bool be) const {
    const Bytes payload = WriterPayload(&image, &capture, &shot, records, be);
    return JpegWith({App1(payload), IccApp2(1, 1, Icc()), IimApp13(Iim())}, {40, 24, 3, 0x22, false, false});
  }
  // The payload's TIFF structure as a file of its own, long enough for the probe.
  Bytes Tiff(bool be) const {
    const Bytes payload = WriterPayload(&image, &capture, &shot, records, be);
    Bytes tiff(payload.begin() + 6, payload.end());
    tiff.resize(std::max<size_t>(tiff.size(), 512), 0);
    return tiff;
  }
};

class ExifPath : public ParseTest, public testing::WithParamInterface<bool> {
 protected:
  bool be() const { return GetParam(); }
};

TEST_P(ExifPath, WriterBlockInAJpegAndAsATiff) {
  const Bytes thumbnail = EncodeJpeg({16, 12, 3, 0x22, false, false});
  Writer w;
  w.records.push_back({0x0B, Le().text(std::string("ASCII\0\0\0", 8)).u32(12).text("Test comment")});
  w.records.push_back({0x05, thumbnail});
  for (const bool inTiff : {false, true}) {
    SCOPED_TRACE(inTiff ? "TIFF" : "JPEG");
    const Bytes file = inTiff ? w.Tiff(be()) : w.Jpeg(be());
    EXPECT_EQ(FileType(file), inTiff ? 8 : 5);
    const Parsed p = Parse(file);
    ASSERT_EQ(p.result, QD_OK);
    // The JPEG's main image takes the frame size once a thumbnail is found.
    EXPECT_EQ(Describe(p.image), inTiff ? "'Vedra Q10' format 8 bits 8/24 colour 1 640x480 aspect 1 "
                                          "res 300x300 cbpp 1 data 2 full 640x480 aspect 1 res 300x300 flags 0"
                                        : "'Vedra Q10' format 5 bits 8/24 colour 1 40x24 aspect 1 res 300x300 "
                                          "cbpp 1 data 1 full 640x480 aspect 1 res 300x300 flags 0");
    EXPECT_EQ(Describe(p.thumb), inTiff ? "'Vedra Q10' format 0 bits 8/24 colour 1 640x480 aspect 1 res 300x300"
                                        : "'Vedra Q10' format 5 bits 8/24 colour 1 16x12 aspect 1 res 300x300");
    EXPECT_TRUE(AllZero(p.aux));
    EXPECT_EQ(Describe(p.capture), "time 1700000000 number f42bb owner 'Test Owner' type 'JPEG test image'");
    EXPECT_EQ(Describe(p.shot), "5 8 -0.5 2 4 1");
    EXPECT_EQ(p.dcf, inTiff ? Bytes{} : thumbnail);
    Bytes comment = Le().text(std::string("ASCII\0\0\0", 8)).u32(256).text("Test comment");
    comment.resize(12 + 256, 0);
    EXPECT_EQ(ReadRecords(p.comment), (RecordStream{{0x0B, comment}}));

    // Every record sent comes back with its payload, under the code the model asks for.
    const RecordStream r = p.records();
    std::map<uint16_t, Bytes> back(r.begin(), r.end());
    EXPECT_EQ(back.size(), r.size()) << "a code written twice";
    for (const auto& [code, payload] : w.records) {
      if (code == 0x05 || code == 0x0B || (inTiff && code == 0x09)) continue;  // 0x09: raw TIFFs only
      const uint16_t as = code == 0x0D ? 0x81 : code == 0x1D ? 0x82 : code;
      EXPECT_EQ(back[as], payload) << "record " << code;
      back.erase(as);
    }
    // The shot values' bias of -3/6 grown by record 0x16's 1.5 EV.
    std::map<uint16_t, Bytes> derived = {
        {0x31, Le().u32(6).u32(6)}, {0x33, Bytes{'0', '2', '2', '1'}}, {0x8C, Le().u16(1)}, {0x105, Le().u16(1)}};
    if (!inTiff) derived.insert({{0x106, Icc()}, {0x107, Iim()}});
    EXPECT_EQ(back, derived);
  }
}

TEST_P(ExifPath, RawTiffWithStripThumbnailAtTheEnd) {
  const Order order = be() ? Order::MM : Order::II;
  const RawExif raw = RawExifTiff(order);
  EXPECT_EQ(FileType(raw.file), 8);
  const Parsed p = Parse(raw.file);
  ASSERT_EQ(p.result, QD_OK);
  // Unit 3: 72 dots per centimetre are 182 per inch.
  EXPECT_EQ(Describe(p.image), "'Vedra ARX-7Q' format 11 bits 12/12 colour 0 64x48 aspect 1 res 182x182 cbpp 1 "
                               "data 3 full 64x48 aspect 1 res 182x182 flags 2");
  EXPECT_EQ(Describe(p.thumb), "'Vedra ARX-7Q' format 11 bits 8/24 colour 1 8x6 aspect 0.5 res 300x150");
  EXPECT_EQ(p.dcf, raw.strip);
  EXPECT_EQ(Describe(p.capture), "time 981173106 number 1267 owner 'Artist Name' type 'RAW'");
  EXPECT_EQ(Describe(p.shot), "2.97085 6.96578 100 15.0391 4 ff");  // FNumber, ExposureTime, FlashEnergy
  EXPECT_EQ(p.record(0x09), Bytes(Le().u16(9))) << "settings word 3 of a raw image";
  EXPECT_EQ(p.record(0x1D), Bytes(Le().u16(0x90).u16(1))) << "a model with record 29";
  EXPECT_EQ(p.record(0x106), Icc());

  // Another maker's Make: no maker-note values at all.
  const Parsed other = Parse(RawExifTiff(order, "Vedra Corp").file);
  ASSERT_EQ(other.result, QD_OK);
  EXPECT_EQ(Describe(other.capture), "time 981173106 number ffffffff owner 'Artist Name' type ''");
  EXPECT_EQ(Describe(other.shot), "2.97085 6.96578 100 15.0391 ffff ff");
  EXPECT_EQ(other.record(0x02), Bytes{0xEE});
}

TEST_P(ExifPath, JpegWithoutThumbnailDescribesItselfByTheImageType) {
  const struct {
    const char* imageType;
    uint8_t imageFormat, auxFormat;  // 0: the record is cleared
    uint16_t colourSpace;
  } rows[] = {{"vrw", 1, 0, 1}, {"MVI", 0, 0, 0xFFFF}, {"", 0, 10, 1}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.imageType);
    Writer w;
    w.records.clear();
    w.image = Image("Vedra ARX-7Q", 640, 480, 300);
    w.shot.settingFlag = 0;  // settings word 1 = 2: no value for this model
    std::strncpy(w.capture.imageType, row.imageType, sizeof w.capture.imageType);
    const Parsed p = Parse(w.Jpeg(be()));
    ASSERT_EQ(p.result, QD_OK);
    EXPECT_EQ(Describe(p.thumb), "'Vedra ARX-7Q' format 6 bits 8/24 colour 1 40x24 aspect 1 res 300x300");
    EXPECT_EQ(+p.shot.settingFlag, 0xFF);
    EXPECT_EQ(+p.image.format, row.imageFormat);
    EXPECT_EQ(+p.aux.format, row.auxFormat);
    EXPECT_EQ(+p.aux.width, row.auxFormat != 0 ? 640 : 0);
    EXPECT_EQ(p.record(0x105), Bytes(Le().u16(row.colourSpace)));
  }
}

INSTANTIATE_TEST_SUITE_P(ByteOrders, ExifPath, testing::Bool(),
                         [](const auto& info) { return info.param ? "MM" : "II"; });

}  // namespace
