// The parse: files of every kind described and their properties written as
// typed records (the heap path and the Exif path), and the driver's file type
// codes, pre-filled records and precedence of results.
#include <gtest/gtest.h>

#include "exifwrite/camera_models.h"
#include "extract/parse_support.h"

namespace {

using namespace qdtest;
using namespace qdtest::parse;

using ParseFile = ParseTest;

// What the rich heap reports in every kind of file.
const char* const kHeapImage =
    "'Vedra ARX K24 Pro' format 1 bits 12/36 colour 1 3000x2000 aspect 1 res 180x180 cbpp 2.5 "
    "data 1 full 3000x2000 aspect 1 res 180x180 flags 2";  // bits per pixel from the heap
const char* const kHeapCapture =
    "time 999996400 number 123456 owner 'Heap owner' type 'Heap image type'";
const char* const kHeapShot = "3.5 2.5 1.5 0.75 4 1";

Bytes Comment(const std::string& code, uint32_t size, const std::string& text) {
  Bytes b = Le().text(code).u32(size).text(text);
  b.resize(std::max<size_t>(b.size(), 12 + size), 0);
  return b;
}

TEST_F(ParseFile, RichFileOfEveryKind) {
  for (bool be : {false, true}) {
    SCOPED_TRACE(be ? "MM" : "II");
    const HeapContent rich = RichHeap(be);
    const RawExif raw = RawExifTiff(be ? Order::MM : Order::II);
    const Bytes heapComment = Comment(std::string(8, '\0'), 15, "A heap comment");
    const Bytes settings = Le().u16(18).u16(0x21).u16(0x22).u16(0xFFFF).u16(0x7FFF).u16(0x7FFF)
                               .u16(0x7FFF).u16(0).u16(0xFFFF);
    const struct {
      Bytes file;
      uint8_t type;
      std::string image, thumb, capture, shot;
      Bytes dcf, comment;
      RecordStream records;  // a few that each take their own road; {0xEE}: absent
    } rows[] = {
        {HeapFile(rich, be), 1, kHeapImage,
         "'Vedra ARX K24 Pro' format 0 bits 0/0 colour 0 0x0 aspect 0 res 0x0", kHeapCapture,
         kHeapShot, {}, heapComment,
         {{0x80, Le().u32(6).text("Vedra").u8(0)}, {0x0A, settings}, {0x107, {0xEE}},
          {0x04, Le().u16(1).u16(25).u16(0x0C00).u16(0x0800)}}},  // 50 over settings word 25
        {JpegHeap(rich, be), 2, kHeapImage,
         "'Vedra ARX K24 Pro' format 2 bits 8/24 colour 1 40x24 aspect 0.5 res 300x150",
         kHeapCapture, kHeapShot, {}, heapComment, {{0x107, Iim()}}},
        {TiffRaw(rich, be), 3, kHeapImage,
         "'Vedra ARX K24 Pro' format 2 bits 8/24 colour 1 160x120 aspect 1 res 72x96",
         kHeapCapture, kHeapShot, {}, heapComment, {{0x107, Iim()}}},
        // The JPEG's main image takes the frame size once a thumbnail is found.
        {RichExifJpeg(be), 5,
         "'Vedra Q10' format 5 bits 8/24 colour 1 40x24 aspect 1 res 300x300 cbpp 3.215 data 1 "
         "full 640x480 aspect 1 res 300x300 flags 0",
         "'Vedra Q10' format 5 bits 8/24 colour 1 16x12 aspect 1 res 300x300",
         "time 1700000000 number f42bb owner 'Test Owner' type 'JPEG test image'",
         "5 8 -0.5 2 4 1", EncodeJpeg({16, 12, 3, 0x22, false, false}),
         Comment(std::string("ASCII\0\0\0", 8), 256, "hi"),
         {{0x0C, Le().u16(200)}, {0x105, Le().u16(2)}, {0x106, Icc()}, {0x107, Iim()}}},
        // Unit 3: 72 dots per centimetre are 182 per inch.
        {raw.file, 8,
         "'Vedra ARX-7Q' format 11 bits 12/12 colour 0 64x48 aspect 1 res 182x182 cbpp 321.5 "
         "data 3 full 64x48 aspect 1 res 182x182 flags 2",
         "'Vedra ARX-7Q' format 11 bits 8/24 colour 1 8x6 aspect 0.5 res 300x150",
         "time 981173106 number 1267 owner 'Artist Name' type 'RAW'",
         "2.97085 6.96578 100 15.0391 4 ff", raw.strip, {},  // FNumber, ExposureTime, FlashEnergy
         {{0x09, Le().u16(9)}, {0x1D, Le().u16(0x90).u16(1)}, {0x0C, Le().u16(100)},
          {0x106, Icc()}}},
    };
    for (const auto& row : rows) {
      SCOPED_TRACE(+row.type);
      EXPECT_EQ(FileType(row.file), row.type);
      const Parsed p = Parse(row.file, 123456);
      ASSERT_EQ(p.result, QD_OK);
      EXPECT_EQ(Describe(p.image), row.image);
      EXPECT_EQ(Describe(p.thumb), row.thumb);
      EXPECT_TRUE(AllZero(p.aux));
      EXPECT_EQ(Describe(p.capture), row.capture);
      EXPECT_EQ(Describe(p.shot), row.shot);
      EXPECT_EQ(p.dcf, row.dcf);
      if (!row.comment.empty()) {
        EXPECT_EQ(ReadRecords(p.comment), (RecordStream{{0x0B, row.comment}}));
      }
      for (const auto& [code, payload] : row.records) EXPECT_EQ(p.record(code), payload) << code;
    }
  }
}

std::string Summary(const Bytes& file, const Parsed& p) {
  return "type " + std::to_string(FileType(file)) + " | " + Describe(p.image) + " | " +
         Describe(p.thumb) + " | aux " + std::to_string(+p.aux.format) + " " +
         std::to_string(+p.aux.width) + " | " + Describe(p.capture) + " | " + Describe(p.shot);
}

enum Kind { kHeapFile, kJpegHeap, kGreyJpegHeap, kTiffRaw };

// Variants of the rich files: a part of what the parse reports, and one record.
TEST_F(ParseFile, VariantsOfTheRichFiles) {
  const auto heap = [](Kind kind, const HeapContent& change) {
    HeapContent h = RichHeap(false);
    for (const auto& [type, value] : change) {
      if (value.empty()) h.erase(type);  // an empty value removes the record
      if (!value.empty()) h[type] = value;
    }
    const bool grey = kind == kGreyJpegHeap;
    return kind == kHeapFile ? HeapFile(h, false)
           : kind == kTiffRaw ? TiffRaw(h, false)
                              : JpegHeap(h, false, {40, 24, grey ? 1 : 3, grey ? 0x11 : 0x22});
  };
  const auto shot = [](size_t k, uint16_t v) {
    std::vector<uint16_t> si = RichShotInfo();
    si[k] = v;
    return Words(si, false);
  };
  const auto image = [](uint32_t format, uint32_t bits, uint32_t colour) {  // at aspect 0.5
    return HeapContent{{0x1803, U32s({format, Bits(2.5f)}, false)},
                       {0x1810, U32s({3000, 2000, Bits(0.5f), 0, bits, 36, colour}, false)}};
  };
  const auto exif = [](const char* imageType, const RecordStream& records) {
    ExifJpegFixture f;
    f.image = Image("Vedra ARX-7Q", 640, 480, 300);
    f.shot.settingFlag = 0;  // settings word 1 = 2: no value for this model
    std::strncpy(f.capture.imageType, imageType, sizeof f.capture.imageType);
    f.records = records;
    return f.Build(false);
  };
  // Without the APEX values the shot values come from FNumber and ExposureTime.
  const auto exifTimes = [](const RecordStream& records) {
    ExifJpegFixture f;
    f.shot.aperture = -1.0f;
    f.shot.shutterSpeed = 100.0f;
    f.records = records;
    return f.Build(false);
  };
  const Bytes none = {0xEE};
  const struct {
    const char* name;
    Bytes file;
    uint32_t result;
    std::string part;  // of the summary
    uint16_t code;     // a record, and its payload
    Bytes payload;
  } rows[] = {
      {"no file number", heap(kHeapFile, {{0x1817, {}}}), QD_OK, "number ffffffff ", 0, {}},
      {"shot words, aperture unset",  // and a capture time before its own zone offset
       heap(kHeapFile, {{0x180E, U32s({100, 200, 0}, false)}, {0x1813, {}}, {0x1805, {}},
                        {0x1026, {}}, {0x102A, shot(4, 0x8000)}}),
       QD_OK, "time 0 number 123456 owner 'Heap owner' type 'Heap image type' | -1 2 0.5 2 4 1",
       0, {}},
      {"heap firmware text that is not one", heap(kHeapFile, {{0x080B, Text("Firmwxre 2.10")}}),
       QD_OK, "| 3.5 2.5 1.5 0.75 c 1", 0x0A, none},  // 0x1805 / 100 for the setting word
      {"short custom functions", heap(kHeapFile, {{0x1033, U16s({1, 2}, false)}}), QD_OK, "",
       0x0D, none},
      {"ISO 160", heap(kHeapFile, {{0x102A, shot(2, 180)}}), QD_OK, "", 0x0C, Le().u16(160)},
      {"no ISO speed", heap(kHeapFile, {{0x102A, shot(2, 31)}}), QD_OK, "", 0x0C, none},
      {"no capture time", heap(kHeapFile, {{0x180E, {}}}), QD_E_UNSUPPORTED, "| '' format 0 ",
       0, {}},
      // Without image records only the 520 models fall back: 640 x 480, shot values absent.
      {"520 without image records",
       heap(kJpegHeap, {{0x1803, {}}, {0x080A, Text(std::string("Vedra\0Lumaframe 520", 19))}}),
       QD_E_NOT_APPLICABLE, "'Lumaframe 520' format 2 bits 8/24 colour 1 80x60 aspect 1 res 180x180 "
       "| aux 0 0 | time 999996400 number 123456 owner 'Heap owner' type 'Heap image type' "
       "| -1 100 100 -1 ffff ff", 0, {}},
      {"no image records", heap(kJpegHeap, {{0x1803, {}}}), QD_E_UNSUPPORTED, "", 0, {}},
      // A JPEG of up to 96 x 95 is its own thumbnail; the 840's TIFF RAW thumbnail is IFD0's.
      {"grey 96 x 95 JPEG heap", JpegHeap(RichHeap(false), false, {96, 95, 1, 0x11}), QD_OK,
       "format 2 bits 8/8 colour 0 96x95 aspect 0.5 res 300x150", 0, {}},
      {"the 840's TIFF RAW", heap(kTiffRaw, {{0x080A, Text(std::string("Vedra\0Vedra Lumaframe 840", 25))}}),
       QD_OK, "'Vedra Lumaframe 840' format 3 bits 8/24 colour 1 6x2 aspect 0.966102 res 186x180", 0, {}},
      {"JPEG heap without a model: the frame", heap(kJpegHeap, {{0x080A, {}}}), QD_E_UNSUPPORTED,
       "type 2 | '' format 2 bits 0/0 colour 0 40x24 aspect 0 res 0x0 cbpp 0 data 0 full 0x0 "
       "aspect 0 res 0x0 flags 0 | '' format 2 bits 0/0 colour 0 40x24 aspect 0 res 0x0 | aux 0 0 "
       "| time 0 number ffffffff owner '' type '' | -1 100 100 -1 ffff ff", 0, {}},
      {"grey heap image", heap(kHeapFile, image(0x00030003, 12, 0x0100)), QD_OK,
       "format 3 bits 8/36 colour 0 3000x2000 aspect 0.5 res 0x0 cbpp 0.0218453 data 3 full 0x0 ",
       0, {}},
      {"16-bit TIFF RAW", heap(kTiffRaw, image(0x00030002, 16, 0x0001)), QD_OK,
       "type 9 | 'Vedra ARX K24 Pro' format 9 bits 16/36 colour 1 3000x2000 aspect 0.5 "
       "res 180x180 cbpp 0.0218453 data 3 full 3000x2000 aspect 1 res 180x180 flags 0", 0, {}},
      {"frame disagrees with the colour flag", heap(kGreyJpegHeap, image(0x00010003, 12, 1)),
       QD_OK, "format 2 bits 12/36 colour 1 3000x2000 aspect 0.5 res 180x180 cbpp 0.0218453 "
       "data 1 full 40x24 aspect 1 res 180x180", 0, {}},
      {"JFIF densities", heap(kJpegHeap, image(0x00010000, 12, 0x0001)), QD_OK,
       "res 300x150 cbpp 0.0218453 data 1 full 3000x2000 aspect 0.5 res 300x150 flags 0", 0, {}},
      {"developed: 2000 / 0.5", heap(kJpegHeap, image(0x00010000, 12, 0x0101)), QD_OK,
       "res 186x180 cbpp 0.0218453 data 1 full 3000x4000 aspect 1 res 180x180 flags 2", 0, {}},
      {"another maker's Make", RawExifTiff(Order::II, "Vedra Corp").file, QD_OK,
       "| time 981173106 number ffffffff owner 'Artist Name' type '' | "
       "2.97085 6.96578 100 15.0391 ffff ff", 0x02, none},
      {"Exif firmware text that is not one", RawExifTiff(Order::II, "VEDRA", "Firmwxre").file,
       QD_OK, "number 1267 owner 'Artist Name' type 'RAW' | 2.97085 6.96578 100 15.0391 ffff ff",
       0, {}},
      {"VRW image type", exif("vrw", {}), QD_OK, "| 'Vedra ARX-7Q' format 1 ", 0x105, Le().u16(1)},
      {"MVI image type", exif("MVI", {}), QD_OK,
       "| '' format 0 bits 0/0 colour 0 0x0 aspect 0 res 0x0 cbpp 0 data 0 full 0x0 aspect 0 "
       "res 0x0 flags 0 | 'Vedra ARX-7Q' format 6 bits 8/24 colour 1 40x24 aspect 1 res 300x300 "
       "| aux 0 0 | ", 0x105, Le().u16(0xFFFF)},
      {"no image type", exif("", {}), QD_OK, "| aux 10 640 |", 0x105, Le().u16(1)},
      {"orientation 8", exif("", {{0x07, Le().u32(270).u16(0)}}), QD_OK, "", 0x07,
       Le().u32(270).u16(0)},
      {"IFD1 sizes as LONG", [] {
         TiffShape t = ExifTiffShape(Order::II);
         t.dimensionType = kTLong;
         return BuildTiffFile(t).bytes;
       }(), QD_OK, "colour 1 6x2 aspect 1 res 180x180 cbpp 10922.7 data 2 full 6x2 aspect 1 res 180x180 "
       "flags 0 | 'Model 10' format 8 bits 8/8 colour 0 2x1 aspect 1", 0, {}},
      {"f-number and exposure time", exifTimes({{0x2E, Le().u32(28).u32(10)}, {0x2D, Le().u32(1).u32(125)}}),
       QD_OK, "| 2.97085 6.96578 -0.5 ", 0, {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const Parsed p = Parse(row.file, 16384);
    EXPECT_EQ(p.result, row.result);
    EXPECT_NE(Summary(row.file, p).find(row.part), std::string::npos) << Summary(row.file, p);
    if (row.code != 0) EXPECT_EQ(p.record(row.code), row.payload);
  }
}

// The heap's capture time is the camera clock, kept in local time.
TEST_F(ParseFile, HeapCaptureTimeInTheLocalZone) {
  Zone("XYZ-9");
  EXPECT_EQ(+Parse(HeapFile(RichHeap(true), true)).capture.time, 999996400 - 9 * 3600);
}

TEST_F(ParseFile, TypeCodesWithoutOpeningAndTheSecondNames) {
  for (const Bytes& file : {HeapFile(RichHeap(true), true), RichExifJpeg(true), Bytes(600, 0x55)}) {
    TestStream in(file);
    uint8_t type = 0;
    QdAuxImageInfo aux;
    std::memset(&aux, 0xA5, sizeof aux);
    const uint32_t result =
        QDParseStream2(in.stream(), nullptr, nullptr, &aux, nullptr, nullptr, &type);
    EXPECT_EQ(result, type == 0xFF ? QD_E_UNSUPPORTED : QD_OK);
    EXPECT_EQ(in.CountOf(Callback::Open) + in.CountOf(Callback::Close), 0);
    if (type != 5) EXPECT_TRUE(AllZero(aux)) << "cleared for every kind but an Exif JPEG";
    EXPECT_EQ(Parse(file, 9, QDParseGetFileStream2).property, Parse(file, 9).property);
  }
}

TEST_F(ParseFile, HostErrorsOutrankTheWorkAsEachExportSays) {
  HeapContent broken = RichHeap(false);
  broken.erase(0x180E);
  const Bytes failing = JpegHeap(broken, false), good = RichExifJpeg(false);
  const auto run = [](const Bytes& file, Callback cb, bool thumbnail) {
    TestStream in(file);
    in.FailCall(cb, 1, 0x7E001);
    if (thumbnail) {
      return QDParseThumbnailFileStream(in.stream(), 0, nullptr, nullptr, nullptr, nullptr,
                                        nullptr, nullptr, nullptr);
    }
    return QDParseFullViewFileStream(in.stream(), nullptr, nullptr, nullptr, nullptr, nullptr,
                                     nullptr);
  };
  // A close error after a failing path: the thumbnail exports report it, the
  // full-view ones the path's error.
  EXPECT_EQ(run(failing, Callback::Close, true), 0x7E001u);
  EXPECT_EQ(run(failing, Callback::Close, false), QD_E_UNSUPPORTED);
  EXPECT_EQ(run(good, Callback::Read, true), 0x7E001u) << "while the probes read";
  EXPECT_EQ(run(good, Callback::Tell, false), 0x7E001u) << "the size, taken after open";
}

TEST(CameraModels, RecordsByPrefixAndExactRules) {
  const struct {
    const char* model;
    uint16_t code;
    bool has;
  } rows[] = {
      {"Vedra ARX K24 Pro", 13, true},   {"Vedra ARX K2", 13, false},
      {"Vedra Lumaframe B7", 14, false}, {"Vedra Lumaframe B", 14, true},
      {"Vedra ARX-7QT", 29, true},       {"Vedra ARX-7", 29, false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(qd::camera::HasRecord(row.model, row.code), row.has) << row.model << " " << row.code;
  }
}

}  // namespace
