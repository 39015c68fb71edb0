// The parse: files of every kind described and their properties written as
// typed records (the heap path and the Exif path), and the driver's file type
// codes, pre-filled records and precedence of results.
#include <gtest/gtest.h>

#include <functional>

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

// Records sent through the writer come back from the parse as they were, under
// the codes the model asks for: "Vedra Q10" lacks records 13 and 29, so 0x0D
// returns as 0x81 and 0x1D as 0x82. 0x3A sets the model flag.
RecordStream WriterRecords() {
  Le custom;
  for (uint16_t i = 0; i < 16; ++i) custom.u16(static_cast<uint16_t>(0x0D00 + i));
  RecordStream sent = {
      {0x02, Le().u16(5).u16(0)}, {0x03, Le().u32(1).u32(2).u32(3)},
      {0x04, Le().u32(350u << 16).u32(2400u << 16 | 3200)}, {0x06, Le().u16(6).u16(7)},
      {0x07, Le().u32(90).u16(0)},
      {0x08, Le().u32(350).u32(10).u32(3200).u32(1).u32(2400).u32(1).u16(2)}, {0x09, Le().u16(3)},
      {0x0A, Le().u16(18).u16(1).u16(2).u16(0xFFFF).u16(4).u16(5).u16(6).u16(0x7FFF).u16(8)},
      {0x0D, custom}, {0x0E, Le().u32(0x11223344)}, {0x14, Le().u16(20).u16(21).u16(32)},
      {0x16, Le().u16(22).f32(1.5f)}, {0x17, Le().f32(-0.75f)},
      {0x18, Le().u16(14).u16(0x31).u16(0x32).u16(0x33).u16(0x34).u16(0x35).u16(0x36)},
      {0x1A, Le().u16(0x1A).u16(0x1B)}, {0x2D, Le().u32(1).u32(250)},
      {0x2E, Le().u32(56).u32(10)}, {0x2F, Le().u32(8).u32(1)}, {0x30, Le().u32(5).u32(1)},
      {0x37, Le().u32(100).u32(100)}, {0x3A, Le().u32(0x01B20000)},
      {0x3B, Le().u16(0x3B).u16(1)}, {0x3C, Le().u32(0x3C)}, {0x83, Le().u32(180)},
      {0x80, Le().u32(6).text("Vedra").u8(0)}, {0x8E, Bytes{0x8E, 1}}, {0x10A, Bytes{3, 0}},
      {0x90, Le().u32(0x00050006)}, {0x111, Le().u32(0x111).u32(2)},
  };
  for (uint16_t code = 0x1B; code <= 0x2A; ++code) sent.push_back({code, Le().u16(code).u16(1)});
  const std::pair<uint16_t, uint16_t> words[] = {
      {0x0F, 15}, {0x10, 16}, {0x11, 17}, {0x12, 18}, {0x13, 19}, {0x15, 21},
      {0x19, 25},  {0x2B, 43}, {0x2C, 44}, {0x32, 16}, {0x34, 1},  {0x35, 0},  {0x36, 1},
      {0x38, 2},   {0x84, 8},  {0x86, 6},  {0x8D, 13}, {0x108, 8}};
  for (const auto& [code, word] : words) sent.push_back({code, Le().u16(word)});
  return sent;
}

TEST_F(ParseFile, RichFileOfEveryKind) {
  const RecordStream sent = WriterRecords();
  RecordStream back = sent;
  for (auto& r : back) r.first = r.first == 0x0D ? 0x81 : r.first == 0x1D ? 0x82 : r.first;
  back.insert(back.end(), {{0x105, Le().u16(2)}, {0x106, Icc()}, {0x107, Iim()}});
  for (bool be : {false, true}) {
    SCOPED_TRACE(be ? "MM" : "II");
    const HeapContent rich = RichHeap(be);
    const RawExif raw = RawExifTiff(be ? Order::MM : Order::II);
    const Bytes heapComment = Le().u32(0).u32(0).u32(15).text("A heap comment").u8(0);
    Bytes exifComment = Le().text(std::string("ASCII\0\0\0", 8)).u32(256).text("hi");
    exifComment.resize(12 + 256);  // the writer pads a short comment
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
        {RichExifJpeg(be, sent), 5,
         "'Vedra Q10' format 5 bits 8/24 colour 1 40x24 aspect 1 res 300x300 cbpp 3.215 data 1 "
         "full 640x480 aspect 1 res 300x300 flags 0",
         "'Vedra Q10' format 5 bits 8/24 colour 1 16x12 aspect 1 res 300x300",
         "time 1700000000 number f42bb owner 'Test Owner' type 'JPEG test image'",
         "5 8 -0.5 2 4 1", EncodeJpeg({16, 12, 3, 0x22, false, false}),
         exifComment,
         back},
        // Unit 3: 72 dots per centimetre are 182 per inch.
        {raw.file, 8,
         "'Vedra ARX-7Q' format 11 bits 12/12 colour 0 64x48 aspect 1 res 182x182 cbpp 321.5 "
         "data 3 full 64x48 aspect 1 res 182x182 flags 2",
         "'Vedra ARX-7Q' format 11 bits 8/24 colour 1 8x6 aspect 0.5 res 300x150",
         "time 981173106 number 1267 owner 'Artist Name' type 'RAW'",
         "2.97085 6.96578 100 15.0391 4 ff", raw.strip,  // FNumber, ExposureTime, FlashEnergy
         Le().text(std::string("ASCII\0\0\0", 8)).u32(3000).text(std::string(3000, 'c')),
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
  const std::string dcf = p.dcf.empty() ? "" : " " + std::to_string(p.dcf[0]);
  return "type " + std::to_string(FileType(file)) + " | " + Describe(p.image) + " | " +
         Describe(p.thumb) + " | aux " + std::to_string(+p.aux.format) + " " +
         std::to_string(+p.aux.width) + " | " + Describe(p.capture) + " | " + Describe(p.shot) +
         " | dcf " + std::to_string(p.dcf.size()) + dcf;
}

// An Exif TIFF without a maker note: bits and samples at the edges of their
// fields, an ISO speed of 0, an interoperability index, and an image size only
// when asked. In a JPEG when `jpeg`.
Bytes HandExif(bool sized, const std::string& index, bool jpeg) {
  TiffBuilder tb(Order::MM);
  TiffIfd& ifd0 = tb.NewIfd();
  TiffIfd& exif = tb.NewIfd();
  TiffIfd& interop = tb.NewIfd();
  if (sized) ifd0.Short(0x100, {64}).Short(0x101, {48});
  ifd0.Short(0x102, {0x840C}).Ascii(0x10F, "Vedra").Ascii(0x110, "Vedra Q10").Short(0x112, {1})
      .Short(0x115, {0xFFFF}).Sub(kTagExifIfd, exif);
  exif.Short(0x8827, {0}).Sub(kTagInteropIfd, interop);
  interop.Ascii(0x0001, index);
  const Bytes tiff = tb.Pad(512).Build().bytes;
  return jpeg ? JpegWith({App1(App1Payload(tiff))}, {40, 24, 3, 0x22, false, false}) : tiff;
}

enum Kind { kHeapFile, kJpegHeap, kGreyJpegHeap, kTiffRaw };

// Variants of the rich files: a part of what the parse reports, and one record.
TEST_F(ParseFile, VariantsOfTheRichFiles) {
  // `jfif` replaces the JPEG's own header, in a 16 x 16 frame.
  const auto heap = [](const HeapContent& change, Kind kind = kHeapFile, const Bytes& jfif = {}) {
    HeapContent h = RichHeap(false);
    for (const auto& [type, value] : change) {
      if (value.empty()) h.erase(type);  // an empty value removes the record
      if (!value.empty()) h[type] = value;
    }
    const bool grey = kind == kGreyJpegHeap;
    if (!jfif.empty()) return JpegHeap(h, false, {16, 16, 3, 0x22, false, false}, jfif);
    return kind == kHeapFile ? HeapFile(h, false)
           : kind == kTiffRaw ? TiffRaw(h, false)
                              : JpegHeap(h, false, {40, 24, grey ? 1 : 3, grey ? 0x11 : 0x22});
  };
  const auto shot = [](size_t k, uint16_t v, std::vector<uint16_t> words = RichShotInfo()) {
    words[k] = v;
    return Words(words, false);
  };
  const auto model = [](const std::string& name) { return Text("Vedra\0"s + name); };
  const auto Jfif = [](uint8_t units, uint16_t x) { return JfifApp0(kJfifVersion, units, x, 72); };
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
  // The raw Exif TIFF changed, in a JPEG when `jpeg`.
  const auto raw = [](const std::function<void(RawExifOptions&)>& change, bool jpeg = false) {
    RawExifOptions o;
    change(o);
    const Bytes tiff = RawExifTiff(Order::II, o).file;
    return jpeg ? JpegWith({App1(App1Payload(tiff))}) : tiff;
  };
  const auto thumbAt = [](uint32_t offset, uint32_t length) {
    return [=](TiffIfd&, TiffIfd&, TiffIfd& ifd1) {
      ifd1.Long(0x201, {offset}).Long(0x202, {length});
    };
  };
  const auto end = static_cast<uint32_t>(raw([&](auto& o) { o.edit = thumbAt(0, 0); }).size());
  const Bytes none = {0xEE};
  const struct {
    const char* name;
    Bytes file;
    uint32_t result;
    std::string part;  // of the summary
    uint16_t code;     // a record, and its payload
    Bytes payload;
  } rows[] = {
      {"no file number", heap({{0x1817, {}}}), QD_OK, "number ffffffff ", 0, {}},
      {"shot words, aperture unset",  // and a capture time before its own zone offset
       heap({{0x180E, U32s({100, 200, 0}, false)}, {0x1813, {}}, {0x1805, {}}, {0x1026, {}},
             {0x102A, shot(4, 0x8000)}}),
       QD_OK, "time 0 number 123456 owner 'Heap owner' type 'Heap image type' | -1 2 0.5 2 4 1",
       0, {}},
      {"heap firmware text that is not one", heap({{0x080B, Text("Firmwxre 2.10")}}), QD_OK,
       "| 3.5 2.5 1.5 0.75 c 1", 0x0A, none},  // 0x1805 / 100 for the setting word
      {"short custom functions", heap({{0x1033, U16s({1, 2}, false)}}), QD_OK, "", 0x0D, none},
      {"no capture time", heap({{0x180E, {}}}), QD_E_UNSUPPORTED, "| '' format 0 ", 0, {}},
      // Heap model texts: a long one cut, a maker too long.
      {"40-character model", heap({{0x080A, model(std::string(40, 'm'))}}), QD_OK,
       "| '" + std::string(28, 'm') + "' format 1", 0, {}},
      {"63-character maker", heap({{0x080A, Text(std::string(63, 'v'))}}), QD_E_UNSUPPORTED, "",
       0, {}},
      {"B7 focal length too long",
       heap({{0x080A, model("Vedra Lumaframe B7")}, {0x1029, U16s({1, 0xFFFF}, false)}}), QD_OK,
       "", 0x04, none},
      {"a model with record 29", heap({{0x080A, model("Vedra ARX-7QT")}}), QD_OK, "",
       0x1D, Le().u16(0x1081).u16(1)},
      {"no model flag: wide gamut", heap({{0x1834, U32s({1}, false)}}), QD_OK, "",
       0x102, Le().u16(1)},
      // ISO speeds from shot word 2, unless settings word 16 holds a speed of its own.
      {"ISO 160", heap({{0x102A, shot(2, 180)}}), QD_OK, "", 0x0C, Le().u16(160)},
      {"ISO 200", heap({{0x102A, shot(2, 188)}}), QD_OK, "", 0x0C, Le().u16(200)},
      {"no ISO speed", heap({{0x102A, shot(2, 31)}}), QD_OK, "", 0x0C, none},
      {"unset settings pair",
       heap({{0x1010, U16s({0xFFFF, 5}, false)}, {0x1014, U16s({1, 1}, false)}}), QD_OK, "", 0x02,
       none},
      // Short shot words and settings; the settings' own length bounded by their record.
      {"short shot words", heap({{0x1813, {}}, {0x1805, {}}, {0x102A, shot(0, 12)}}), QD_OK,
       "| -1 100 100 -1 4 1", 0, {}},
      {"short settings, no 0x1010", heap({{0x102D, U16s({4, 1}, false)}, {0x1010, {}}}), QD_OK,
       "| 3.5 2.5 1.5 0.75 ffff 1", 0x0F, Le().u16(5)},
      {"settings longer than their record", heap({{0x1026, {}}, {0x102D, U16s({8, 1, 7}, false)}}),
       QD_OK, "| 3.5 2.5 1.5 0.75 7 1", 0x09, none},
      {"settings word 1 = 2", heap({{0x1026, {}}, {0x102D, shot(1, 2, RichSettings())}}), QD_OK,
       "| 3.5 2.5 1.5 0.75 4 0", 0x09, Le().u16(9)},
      // Without image records only the 520 models fall back: 640 x 480, shot values absent.
      {"520 without image records",
       heap({{0x1803, {}}, {0x080A, model("Lumaframe 520")}}, kJpegHeap), QD_E_NOT_APPLICABLE,
       "'Lumaframe 520' format 2 bits 8/24 colour 1 80x60 aspect 1 "
       "res 180x180 | aux 0 0 | time 999996400 number 123456 owner 'Heap owner' type 'Heap image "
       "type' | -1 100 100 -1 ffff ff", 0, {}},
      {"no image records", heap({{0x1803, {}}}, kJpegHeap), QD_E_UNSUPPORTED, "", 0, {}},
      {"unknown image class: the frame", heap({{0x1803, U32s({0x00070000}, false)}}, kJpegHeap),
       QD_E_NOT_APPLICABLE, "| 'Vedra ARX K24 Pro' format 2 bits 8/24 colour 1 40x24 aspect 1 ",
       0, {}},
      {"JPEG heap without a model: the frame", heap({{0x080A, {}}}, kJpegHeap), QD_E_UNSUPPORTED,
       "type 2 | '' format 2 bits 0/0 colour 0 40x24 aspect 0 res 0x0 cbpp 0 data 0 full 0x0 "
       "aspect 0 res 0x0 flags 0 | '' format 2 bits 0/0 colour 0 40x24 aspect 0 res 0x0 |", 0, {}},
      // A JPEG of up to 96 x 95 is its own thumbnail; the 840's TIFF RAW thumbnail is IFD0's.
      {"grey 96 x 95 JPEG heap", JpegHeap(RichHeap(false), false, {96, 95, 1, 0x11}), QD_OK,
       "format 2 bits 8/8 colour 0 96x95 aspect 0.5 res 300x150", 0, {}},
      {"the 840's TIFF RAW", heap({{0x080A, model("Vedra Lumaframe 840")}}, kTiffRaw), QD_OK,
       "'Vedra Lumaframe 840' format 3 bits 8/24 colour 1 6x2 aspect 0.966102 res 186x180", 0, {}},
      // Heap images and their full views; JFIF densities count in inches.
      {"grey heap image", heap(image(0x00030003, 12, 0x0100)), QD_OK,
       "bits 8/36 colour 0 3000x2000 aspect 0.5 res 0x0 cbpp 0.0218453 data 3 full 0x0 ", 0, {}},
      {"16-bit heap file", heap(image(0x00030000, 16, 0x0001)), QD_OK,
       "type 1 | 'Vedra ARX K24 Pro' format 9 bits 16/36 colour 1 3000x2000 aspect 0.5 "
       "res 180x180 cbpp 0.0218453 data 1 full 3000x2000 aspect 1 res 180x180", 0, {}},
      {"16-bit TIFF RAW", heap(image(0x00030002, 16, 0x0001), kTiffRaw), QD_OK,
       "type 9 | 'Vedra ARX K24 Pro' format 9 bits 16/36 colour 1 3000x2000 aspect 0.5 ", 0, {}},
      {"JPEG class without a frame", heap(image(0x00010007, 12, 0)), QD_OK,
       "res 180x180 cbpp 0.0218453 data 2 full 3000x2000 aspect 1 res 180x180 flags 0", 0, {}},
      {"frame against the colour flag", heap(image(0x00010003, 12, 1), kGreyJpegHeap), QD_OK,
       "3000x2000 aspect 0.5 res 180x180 cbpp 0.0218453 data 1 full 40x24 aspect 1 ", 0, {}},
      {"JFIF densities", heap(image(0x00010000, 12, 0x0001), kJpegHeap), QD_OK,
       "res 300x150 cbpp 0.0218453 data 1 full 3000x2000 aspect 0.5 res 300x150 flags 0", 0, {}},
      {"JFIF per centimetre", heap(image(0x00010000, 12, 1), kJpegHeap, Jfif(2, 72)), QD_OK,
       "format 2 bits 8/24 colour 1 16x16 aspect 1 res 180x180", 0, {}},
      {"developed: 2000 / 0.5", heap(image(0x00010000, 12, 0x0101), kJpegHeap), QD_OK,
       "res 186x180 cbpp 0.0218453 data 1 full 3000x4000 aspect 1 res 180x180 flags 2", 0, {}},
      {"developed, monochrome", heap(image(0x00010000, 12, 0x0100), kGreyJpegHeap), QD_OK,
       "colour 0 3000x2000 aspect 0.5 res 186x180 cbpp 0.0218453 data 1 full 3000x2000 aspect 0.5 "
       "res 186x180", 0, {}},
      // Raw Exif TIFFs, and JPEGs around them.
      {"another maker's Make", raw([](auto& o) { o.make = "Vedra Corp"; }), QD_OK,
       "owner 'Artist Name' type '' | 2.97085 6.96578 100 15.0391 ffff ff", 0x02, none},
      {"Exif firmware text that is not one", raw([](auto& o) { o.firmware = "Firmwxre"; }), QD_OK,
       "number 1267 owner 'Artist Name' type 'RAW' | 2.97085 6.96578 100 15.0391 ffff ff", 0, {}},
      {"image kind 5", raw([](auto& o) { o.kind = 5; }), QD_OK,
       "type 8 | 'Vedra ARX-7Q' format 11 bits 12/12", 0x09, Le().u16(9)},
      {"short strip tags", raw([](auto& o) { o.shortStrips = true; }), QD_OK, "| dcf 144 3", 0, {}},
      {"strip thumbnail without a size", raw([](auto& o) { o.thumbSize = false; }), QD_E_UNSUPPORTED,
       "colour 1 160x120 aspect 0.5", 0, {}},
      {"Exif sizes before IFD0's", raw([](auto& o) {
         o.edit = [](TiffIfd&, TiffIfd& e, TiffIfd&) { e.Short(0xA002, {32}).Short(0xA003, {16}); };
       }), QD_OK, "colour 0 32x16 aspect 1", 0, {}},
      {"ICC profile past the end", raw([](auto& o) {
         o.edit = [](TiffIfd& ifd0, TiffIfd&, TiffIfd&) { ifd0.CountField(0xFFFF); };
       }), QD_OK, "", 0x106, none},
      {"short settings", raw([](auto& o) { o.settings = {4, 1, 7}; }), QD_OK,
       "| 2.97085 6.96578 100 15.0391 ffff 1", 0x09, none},
      {"movie of image kind 3", raw([](auto& o) { o.kind = 3, o.type = "MVI"; }, true), QD_OK,
       "| aux 10 40 |", 0, {}},
      {"thumbnail at the block's end", raw([&](auto& o) { o.edit = thumbAt(end, 9); }, true),
       QD_OK, "| aux 10 40 | ", 0, {}},
      {"thumbnail past the block", raw([&](auto& o) { o.edit = thumbAt(end - 144, 600); }, true),
       QD_OK, "| dcf 144 3", 0, {}},
      // Uncalibrated: the colour space from the primaries and the gamma.
      {"wide-gamut primaries", raw([](auto& o) {
         o.edit = [](TiffIfd& ifd0, TiffIfd& exif, TiffIfd&) {
           ifd0.Rational(0x13E, {{313, 1000}, {329, 1000}})
               .Rational(0x13F, {{64, 100}, {33, 100}, {21, 100}, {71, 100}, {15, 100}, {6, 100}})
               .Rational(0x211, {{299, 1000}, {587, 1000}, {114, 1000}});
           exif.Short(0xA001, {0xFFFF}).Rational(0xA500, {{22, 10}});
         };
       }), QD_OK, "", 0x105, Le().u16(2)},
      // Exif JPEGs from the writer, and Exif files from hand-made blocks.
      {"VRW image type", exif("vrw", {}), QD_OK, "| 'Vedra ARX-7Q' format 1 ", 0x105, Le().u16(1)},
      {"MVI image type", exif("MVI", {}), QD_OK, "res 0x0 flags 0 | 'Vedra ARX-7Q' format 6 "
       "bits 8/24 colour 1 40x24 aspect 1 res 300x300 | aux 0 0 | ", 0x105, Le().u16(0xFFFF)},
      {"no image type", exif("", {}), QD_OK, "| aux 10 640 |", 0x105, Le().u16(1)},
      {"VRWX image type", exif("VRWX", {}), QD_OK, "| aux 10 640 |", 0x105, Le().u16(1)},
      {"orientation 8", exif("", {{0x07, Le().u32(270).u16(0)}}), QD_OK, "",
       0x07, Le().u32(270).u16(0)},
      {"custom functions of a model without record 13", exif("", {{0x0D, Bytes(32, 7)}}), QD_OK, "",
       0x81, Bytes(32, 7)},
      {"IFD1 thumbnail that is no JPEG", exif("", {{0x05, Bytes(100, 0x51)}}), QD_OK,
       "'Vedra ARX-7Q' format 5 bits 8/24 colour 1 160x120 aspect 1 res 300x300 | aux 0 0", 0, {}},
      {"APEX values over 0: f-number and exposure time",
       exif("", {{0x30, Le().u32(5).u32(0)}, {0x2F, Le().u32(8).u32(0)},
                 {0x2E, Le().u32(28).u32(10)}, {0x2D, Le().u32(1).u32(125)}}),
       QD_OK, "| 2.97085 6.96578 -0.5 ", 0, {}},
      {"31-character model", raw([](auto& o) { o.model = std::string(31, 'm'); }), QD_OK,
       "| '" + std::string(31, 'm') + "' format 11", 0, {}},
      {"IFD1 sizes as LONG", [] {
         TiffShape t = ExifTiffShape(Order::II);
         t.dimensionType = kTLong;
         return BuildTiffFile(t).bytes;
       }(), QD_OK, "colour 1 6x2 aspect 1 res 180x180 cbpp 10922.7 data 2 full 6x2 aspect 1 "
       "res 180x180 flags 0 | 'Model 10' format 8 bits 8/8 colour 0 2x1 aspect 1", 0, {}},
      {"no image size", HandExif(false, "R98", false), QD_E_UNSUPPORTED, "", 0, {}},
      {"bits and samples at their edges", HandExif(true, "R98", false), QD_OK,
       "format 8 bits 12/244 colour 1 64x48", 0x0C, Le().u16(0)},
      {"thm index", HandExif(false, "thm", true), QD_OK,
       "flags 0 | 'Vedra Q10' format 6 bits 12/24 colour 1 " "40x24 aspect 1 res 180x180 | aux 0 0",
       0, {}},
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

}  // namespace
