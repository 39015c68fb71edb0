// The Exif path: Exif JPEG files (the block in memory) and TIFF files with an
// Exif IFD (read through the stream), described and their properties written
// back as the typed records the Exif writer takes.
#include <gtest/gtest.h>

#include <map>

#include "exifwrite/exif_support.h"
#include "extract/parse_support.h"

namespace {

using namespace qdtest;
using namespace qdtest::parse;

// Records that come back unchanged from a parse, in the writer's form; the
// model ("Vedra Q10") lacks records 13 and 29, so 0x0D returns as 0x81 and
// 0x1D as 0x82. 0x3A makes the model flag.
RecordList SentRecords() {
  Le custom;
  for (uint16_t i = 0; i < 16; ++i) custom.u16(static_cast<uint16_t>(0x0D00 + i));
  RecordList r = {
      {0x02, Le().u16(5).u16(0)}, {0x03, Le().u32(1).u32(2).u32(3)},
      {0x04, Le().u32(350u << 16).u32(2400u << 16 | 3200)},
      {0x06, Le().u16(6).u16(7)}, {0x07, Le().u32(90).u16(0)},
      {0x08, Le().u32(350).u32(10).u32(3200).u32(1).u32(2400).u32(1).u16(2)}, {0x09, Le().u16(3)},
      {0x0A, Le().u16(18).u16(1).u16(2).u16(0xFFFF).u16(4).u16(5).u16(6).u16(0x7FFF).u16(8)},
      {0x0C, Le().u16(200)}, {0x0D, custom}, {0x0E, Le().u32(0x11223344)}, {0x0F, Le().u16(15)},
      {0x10, Le().u16(16)}, {0x11, Le().u16(17)}, {0x12, Le().u16(18)}, {0x13, Le().u16(19)},
      {0x14, Le().u16(20).u16(21).u16(32)}, {0x15, Le().u16(21)}, {0x16, Le().u16(22).f32(1.5f)},
      {0x17, Le().f32(-0.75f)}, {0x18, Le().u16(14).u16(0x31).u16(0x32).u16(0x33).u16(0x34).u16(0x35).u16(0x36)},
      {0x19, Le().u16(25)}, {0x1A, Le().u16(0x1A).u16(0x1B)}, {0x2B, Le().u16(43)}, {0x2C, Le().u16(44)},
      {0x2D, Le().u32(1).u32(250)}, {0x2E, Le().u32(56).u32(10)}, {0x2F, Le().u32(8).u32(1)},
      {0x30, Le().u32(5).u32(1)}, {0x32, Le().u16(16)}, {0x34, Le().u16(1)}, {0x35, Le().u16(0)},
      {0x36, Le().u16(1)}, {0x37, Le().u32(100).u32(100)}, {0x38, Le().u16(2)}, {0x39, Le().u16(1)},
      {0x3A, Le().u32(0x01B20000)}, {0x3B, Le().u16(0x3B).u16(1)}, {0x3C, Le().u32(0x3C)},
      {0x80, Le().u32(6).text("Vedra").u8(0)}, {0x83, Le().u32(180)}, {0x84, Le().u16(0x84)}, {0x85, Le().u16(1)},
      {0x86, Le().u16(0x86)}, {0x8D, Le().u16(0x8D)}, {0x8E, Bytes{0x8E, 1}}, {0x90, Le().u32(0x00050006)},
      {0x108, Le().u16(0x108)}, {0x10A, Bytes{3, 0}}, {0x111, Le().u32(0x111).u32(2)},
  };
  for (uint16_t code = 0x1B; code <= 0x2A; ++code) r.push_back({code, Le().u16(code).u16(1)});
  return r;
}

// The order in which the path writes its records.
const std::vector<uint16_t> kOrder = {
    0x02, 0x03, 0x04, 0x08, 0x06, 0x10, 0x17, 0x16, 0x11, 0x07, 0x09, 0x0F, 0x12, 0x0A, 0x13, 0x14, 0x15,
    0x18, 0x19, 0x1A, 0x2B, 0x2C, 0x0D, 0x0E, 0x0C, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F, 0x20, 0x21, 0x22, 0x23,
    0x24, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x2D, 0x2E, 0x2F, 0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36,
    0x37, 0x38, 0x39, 0x80, 0x88, 0x89, 0x8A, 0x8B, 0x3A, 0x3B, 0x3C, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86,
    0x87, 0x8C, 0x8D, 0x8F, 0x98, 0x8E, 0x108, 0x10A, 0x90, 0x105, 0x102, 0x104, 0x106, 0x107, 0x111};

std::vector<uint16_t> Codes(const RecordStream& r) {
  std::vector<uint16_t> codes;
  for (const auto& e : r) codes.push_back(e.first);
  return codes;
}

// An Exif block from the writer, and the files around it.
struct Writer {
  ExifImageInfo image = Image("Vedra Q10", 640, 480, 300);
  ExifCaptureInfo capture{1700000000, 1000123, "Test Owner", "JPEG test image"};  // 2023:11:14 22:13:20 UTC
  ExifShotValues shot{5.0f, 8.0f, -0.5f, 2.0f, 400, 1};
  RecordList records = SentRecords();

  Bytes Payload(bool be) { return WriterPayload(&image, &capture, &shot, records, be); }
  Bytes Jpeg(bool be) {
    return JpegWith({App1(Payload(be)), IccApp2(1, 1, Icc()), IimApp13(Iim())}, {40, 24, 3, 0x22, false, false});
  }
};

const char* const kNoAux = "'' format 0 bits 0/0 colour 0 0x0 aspect 0 res 0x0 extra 0 0 0";

class ExifPath : public ParseTest, public testing::WithParamInterface<bool> {
 protected:
  bool be() const { return GetParam(); }
  Order order() const { return be() ? Order::MM : Order::II; }
};

TEST_P(ExifPath, WriterBlockInAJpegAndAsATiff) {
  const Bytes thumbnail = EncodeJpeg({16, 12, 3, 0x22, false, false});
  Writer w;
  w.records.push_back({0x0B, Le().text(std::string("ASCII\0\0\0", 8)).u32(12).text("Test comment")});
  w.records.push_back({0x05, thumbnail});
  const Bytes jpeg = w.Jpeg(be()), tiff = TiffOfPayload(w.Payload(be()));
  for (const bool inTiff : {false, true}) {
    SCOPED_TRACE(inTiff ? "TIFF" : "JPEG");
    const Bytes& file = inTiff ? tiff : jpeg;
    EXPECT_EQ(FileType(file), inTiff ? 8 : 5);
    const Parsed p = Parse(file);
    ASSERT_EQ(p.result, QD_OK);
    // The JPEG's main image takes the frame size once a thumbnail is found.
    EXPECT_EQ(Describe(p.image), inTiff ? "'Vedra Q10' format 8 bits 8/24 colour 1 640x480 aspect 1 res 300x300 "
                                          "cbpp 1 data 2 full 640x480 aspect 1 res 300x300 "
                                          "path ffffffff ffffffff ffffffff flags 0"
                                        : "'Vedra Q10' format 5 bits 8/24 colour 1 40x24 aspect 1 res 300x300 "
                                          "cbpp 1 data 1 full 640x480 aspect 1 res 300x300 "
                                          "path ffffffff ffffffff ffffffff flags 0");
    EXPECT_EQ(Describe(p.thumb), inTiff ? "'Vedra Q10' format 0 bits 8/24 colour 1 640x480 aspect 1 res 300x300"
                                        : "'Vedra Q10' format 5 bits 8/24 colour 1 16x12 aspect 1 res 300x300");
    EXPECT_EQ(Describe(p.aux), kNoAux);
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
      if (code == 0x05 || code == 0x0B || (inTiff && code == 0x09)) continue;  // 0x09: only raw TIFF images
      const uint16_t as = code == 0x0D ? 0x81 : code == 0x1D ? 0x82 : code;
      EXPECT_EQ(back[as], payload) << "record " << code;
      back.erase(as);
    }
    // The shot values' bias of -3/6 grown by record 0x16's 1.5 EV.
    std::map<uint16_t, Bytes> derived = {{0x31, Le().u32(6).u32(6)},
                                         {0x33, Bytes{'0', '2', '2', '1'}},
                                         {0x8C, Le().u16(1)},
                                         {0x105, Le().u16(1)}};
    if (!inTiff) derived.insert({{0x106, Icc()}, {0x107, Iim()}});
    EXPECT_EQ(back, derived);
    const std::vector<uint16_t> codes = Codes(r);
    std::vector<uint16_t> inOrder;
    for (uint16_t c : kOrder) {
      if (std::count(codes.begin(), codes.end(), c) != 0) inOrder.push_back(c);
    }
    EXPECT_EQ(codes, inOrder);
  }
}

TEST_P(ExifPath, RawTiffWithStripThumbnailAtTheEnd) {
  const RawExif raw = RawExifTiff(order());
  EXPECT_EQ(FileType(raw.file), 8);
  const Parsed p = Parse(raw.file);
  ASSERT_EQ(p.result, QD_OK);
  // Unit 3: 72 dots per centimetre are 182 per inch.
  EXPECT_EQ(Describe(p.image),
            "'Vedra ARX-7Q' format 11 bits 12/12 colour 0 64x48 aspect 1 res 182x182 cbpp 1 data 3 full 64x48 aspect 1 "
            "res 182x182 path ffffffff ffffffff ffffffff flags 2");
  EXPECT_EQ(Describe(p.thumb), "'Vedra ARX-7Q' format 11 bits 8/24 colour 1 8x6 aspect 0.5 res 300x150");
  EXPECT_EQ(p.dcf, raw.strip);
  EXPECT_EQ(Describe(p.capture), "time 981173106 number 1267 owner 'Artist Name' type 'RAW'");
  EXPECT_EQ(Describe(p.shot), "2.97085 6.96578 100 15.0391 4 ff");  // FNumber, ExposureTime, FlashEnergy
  const RecordStream r = p.records();
  const std::map<uint16_t, Bytes> back(r.begin(), r.end());
  EXPECT_EQ(back.at(0x09), Bytes(Le().u16(9))) << "settings word 3 of a raw image";
  EXPECT_EQ(back.at(0x1D), Bytes(Le().u16(0x90).u16(1))) << "a model with record 29";
  EXPECT_EQ(back.count(0x82), 0u);
  EXPECT_EQ(back.at(0x0C), Bytes(Le().u16(100)));
  EXPECT_EQ(back.at(0x106), Icc());
  EXPECT_EQ(back.at(0x107), Bytes({0x1C, 0x02, 0x00, 0x00}));

  // Another maker's Make: no maker-note values at all.
  const Parsed other = Parse(RawExifTiff(order(), "Vedra Corp").file);
  ASSERT_EQ(other.result, QD_OK);
  EXPECT_EQ(+other.image.format, 8);
  EXPECT_EQ(Describe(other.capture), "time 981173106 number ffffffff owner 'Artist Name' type ''");
  EXPECT_EQ(Describe(other.shot), "2.97085 6.96578 100 15.0391 ffff ff");
  EXPECT_TRUE(other.dcf.empty());
  const std::vector<uint16_t> otherCodes = Codes(other.records());
  for (uint16_t code : {0x02, 0x09, 0x0A, 0x1D}) {
    EXPECT_EQ(std::count(otherCodes.begin(), otherCodes.end(), code), 0) << code;
  }

  // A firmware text that is not one: no settings or shot information, the rest stays.
  const Parsed odd = Parse(RawExifTiff(order(), "VEDRA", "Firmwxre 1.0").file);
  ASSERT_EQ(odd.result, QD_OK);
  EXPECT_EQ(+odd.image.format, 8);
  EXPECT_EQ(+odd.capture.fileNumber, 4711u);
  EXPECT_EQ(Describe(odd.shot), "2.97085 6.96578 100 15.0391 ffff ff");
}

TEST_P(ExifPath, JpegWithoutThumbnailDescribesItselfByTheImageType) {
  const struct {
    const char* imageType;
    uint8_t imageFormat, auxFormat;  // 0: the record is cleared
    uint16_t colourCode;
  } cases[] = {{"vrw", 1, 0, 1}, {"MVI", 0, 0, 0xFFFF}, {"", 0, 10, 1}};
  for (const auto& c : cases) {
    Writer w;
    w.records.clear();
    w.image = Image("Vedra ARX-7Q", 640, 480, 300);
    w.shot.settingFlag = 0;  // settings word 1 = 2: no value for this model, even without an image record
    std::strncpy(w.capture.imageType, c.imageType, sizeof w.capture.imageType);
    const Parsed p = Parse(w.Jpeg(be()));
    ASSERT_EQ(p.result, QD_OK) << c.imageType;
    EXPECT_EQ(Describe(p.thumb), "'Vedra ARX-7Q' format 6 bits 8/24 colour 1 40x24 aspect 1 res 300x300");
    EXPECT_EQ(+p.shot.settingFlag, 0xFF) << c.imageType;
    if (c.imageFormat == 0) EXPECT_TRUE(AllZero(p.image)) << c.imageType;
    if (c.imageFormat != 0) EXPECT_EQ(+p.image.format, c.imageFormat);
    if (c.auxFormat == 0) EXPECT_TRUE(AllZero(p.aux)) << c.imageType;
    if (c.auxFormat != 0) {
      EXPECT_EQ(Describe(p.aux),
                "'Vedra ARX-7Q' format 10 bits 8/24 colour 1 640x480 aspect 1 res 300x300 extra 0 0 0");
    }
    const RecordStream r = p.records();
    EXPECT_NE(std::find(r.begin(), r.end(), std::make_pair(uint16_t{0x105}, Bytes(Le().u16(c.colourCode)))), r.end())
        << c.imageType;
    EXPECT_TRUE(p.dcf.empty());
  }
}

// A hand-made Exif block without a maker note: Make, and the interoperability index.
Bytes IndexedJpeg(Order order, const std::string& index) {
  TiffBuilder tb(order);
  TiffIfd& ifd0 = tb.NewIfd();
  TiffIfd& exif = tb.NewIfd();
  TiffIfd& interop = tb.NewIfd();
  ifd0.Ascii(0x10F, "Vedra").Ascii(0x110, "Vedra Q10").Sub(kTagExifIfd, exif);
  exif.Sub(kTagInteropIfd, interop);
  interop.Ascii(0x0001, index);
  return JpegWith({App1(App1Payload(tb.Build().bytes))}, {40, 24, 3, 0x22, false, false});
}

TEST_P(ExifPath, ThmIndexMakesTheFileAThumbnail) {
  const Parsed thm = Parse(IndexedJpeg(order(), "thm"));
  ASSERT_EQ(thm.result, QD_OK);
  EXPECT_EQ(Describe(thm.thumb), "'Vedra Q10' format 6 bits 8/24 colour 1 40x24 aspect 1 res 180x180");
  EXPECT_TRUE(AllZero(thm.image));
  EXPECT_TRUE(AllZero(thm.aux));
  const Parsed r98 = Parse(IndexedJpeg(order(), "R98"));
  ASSERT_EQ(r98.result, QD_OK);
  EXPECT_EQ(+r98.thumb.format, 0);
  EXPECT_EQ(Describe(r98.image).substr(0, 45), "'Vedra Q10' format 5 bits 8/24 colour 1 40x24");
}

TEST_P(ExifPath, IfdOneThumbnailThatIsNoJpeg) {
  Bytes odd(100);
  for (size_t i = 0; i < odd.size(); ++i) odd[i] = static_cast<uint8_t>(i * 7 + 1);
  Writer w;
  w.records = {{0x05, odd}};
  const Parsed p = Parse(w.Jpeg(be()));
  ASSERT_EQ(p.result, QD_OK);
  EXPECT_EQ(Describe(p.thumb), "'Vedra Q10' format 5 bits 8/24 colour 1 160x120 aspect 1 res 300x300");
  EXPECT_EQ(p.dcf, odd);
}

// Values at the edges of their fields: an ISO speed of 0 is still a speed, and
// bits per sample times samples per pixel wraps into its byte.
TEST_P(ExifPath, ValuesAtTheEdgesOfTheirFields) {
  TiffBuilder tb(order());
  TiffIfd& ifd0 = tb.NewIfd();
  TiffIfd& exif = tb.NewIfd();
  ifd0.Short(0x100, {64}).Short(0x101, {48}).Short(0x102, {0x840C}).Ascii(0x10F, "Vedra")
      .Ascii(0x110, "Vedra Q10").Short(0x112, {1}).Short(0x115, {0xFFFF}).Sub(kTagExifIfd, exif);
  exif.Short(0x8827, {0});
  const Bytes payload = App1Payload(tb.Build().bytes);
  for (const bool inTiff : {false, true}) {
    SCOPED_TRACE(inTiff ? "TIFF" : "JPEG");
    const Parsed p = Parse(inTiff ? TiffOfPayload(payload) : JpegWith({App1(payload)}));
    ASSERT_EQ(p.result, QD_OK);
    const RecordStream r = p.records();
    EXPECT_NE(std::find(r.begin(), r.end(), std::make_pair(uint16_t{0x0C}, Bytes(Le().u16(0)))), r.end());
    if (inTiff) EXPECT_EQ(+p.image.bitsPerPixel, (0x840C * 0xFFFFu) & 0xFF);
  }
}

INSTANTIATE_TEST_SUITE_P(ByteOrders, ExifPath, testing::Bool(),
                         [](const auto& info) { return info.param ? "MM" : "II"; });

}  // namespace
