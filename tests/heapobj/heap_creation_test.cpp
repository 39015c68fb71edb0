// Heap objects built from a host's descriptions and property records.
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>

#include "exifwrite/exif_support.h"
#include "extract/parse_support.h"
#include "heapobj/heapobj_support.h"

namespace qdtest {
namespace {

uint16_t Word(const Bytes& b, size_t k) { return GetU16(b.data() + 2 * k, false); }

// The plain variant writes no arrays; an Exif source has no heap to start from.
TEST(HeapCreation, PlainFromAnImageDescriptionOnly) {
  // Format 9, 16 bits per sample, colour, 640 x 480, data code 3.
  QdImageInfo image{"Vedra Lumaframe T190", 9, 16, 0, 1, 640, 480, 0, 0, 0, 0, 3};
  image.flags = 0x02;
  ExifShotValues shot = NoShotValues();
  shot.aperture = 5.0f;
  Records records({{0x0B, Le().text(std::string("ASCII\0\0\0", 8)).u32(2).text("hi")}});
  const Bytes tiff = BuildTiffFile(ExifTiffShape(Order::MM)).bytes;
  TestStream exif(AfterSoi(EncodeJpeg(), {App1(App1Payload(tiff))}));
  HeapObject out{};
  ASSERT_EQ(qdParseCreateHeapObject(exif.stream(), &image, nullptr, &shot, records.list(), &out),
            QD_OK);
  EXPECT_STREQ(out.type, "TIFP");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out.block), 14),
            std::string("II\x1A\0\0\0HEAPJPGM", 14));
  EXPECT_EQ(Read(out, {0x1803}), U32s({0x30002, 0}, false));
  EXPECT_EQ(Read(out, {0x1810}), U32s({640, 480, 0, 0, 16, 0, 0x101}, false));
  Bytes comment = {'h', 'i'};
  comment.resize(256, 0);
  EXPECT_EQ(Read(out, {0x0805}), comment);
  EXPECT_EQ(Read(out, {0x300B, 0x102A}), std::nullopt);
  qdParseFreeHeapObject(out);
}

// Array B (0x102D): flag 0 is setting 2, a later record wins, a settings run
// goes as far as its length, the ISO speed is kept with its flag.
TEST(HeapCreation, ShotValuesAndRecordsFillTheTwoArrays) {
  ExifShotValues none = NoShotValues(), flag0 = NoShotValues();
  flag0.settingFlag = 0;
  Records records({{0x0F, U16s({7}, false)}, {0x0F, U16s({9}, false)},
                   {0x0A, U16s({6, 1, 2, 3, 4}, false)}, {0x0C, U16s({125}, false)}});
  HeapObject b{};
  ASSERT_EQ(qdParseCreateHeapObjectEx(nullptr, nullptr, nullptr, &flag0, records.list(), &b),
            QD_OK);
  const std::optional<Bytes> words = Read(b, {0x300B, 0x102D});
  ASSERT_TRUE(words.has_value());
  EXPECT_EQ(Word(*words, 0), words->size());
  for (const auto& [k, v] : std::map<size_t, uint16_t>{{1, 2}, {4, 9}, {10, 1}, {11, 2}, {12, 0},
                                                       {16, 0x4000 | 125}}) {
    EXPECT_EQ(Word(*words, k), v) << "word " << k;
  }
  qdParseFreeHeapObject(b);
  // Aperture -1, shutter speed 100 and records too short for their values
  // write nothing.
  Records tooShort;
  for (uint16_t code :
       {0x02, 0x03, 0x04, 0x06, 0x07, 0x09, 0x0A, 0x0B, 0x0C, 0x0E, 0x0F, 0x16, 0x17, 0x80, 0x90}) {
    tooShort.Add(code, {1});
  }
  HeapObject out{};
  ASSERT_EQ(qdParseCreateHeapObjectEx(nullptr, nullptr, nullptr, &none, tooShort.list(), &out),
            QD_OK);
  EXPECT_EQ(Read(out, {0x300B, 0x102A}), std::nullopt);
  EXPECT_EQ(Read(out, {0x300B, 0x102D}), std::nullopt);
  qdParseFreeHeapObject(out);
  EXPECT_EQ(LiveBlocks(), 0);
}

// A source heap gives the starting records, in its byte order, but never its
// comment. The thumbnail description goes with the arrays into the maker heap.
TEST(HeapCreation, ASourceFileGivesTheStartingProperties) {
  HeapBuilder props(true);
  props.Data(0x0805, {'o', 'l', 'd', 0});
  props.Data(0x0810, {'o', 'w', 'n', 'e', 'r', 0});
  TestStream source(parse::JpegWith({HeapApp0(HeapFileBuilder(props).Subtype("JPGM").Build())}));
  const HeapObjectSupplement thumb{7, 2, 8, 24, 1, 160, 120, 1.9f, 180, 180};
  ExifShotValues shot = NoShotValues();
  shot.settingFlag = 1;
  HeapObject out{};
  ASSERT_EQ(
      qdParseCreateHeapObjectEx2(source.stream(), nullptr, nullptr, &shot, nullptr, &out, &thumb),
      QD_OK);
  EXPECT_EQ(+out.bigEndian, 1);
  EXPECT_EQ(Read(out, {0x0810}), (Bytes{'o', 'w', 'n', 'e', 'r', 0}));
  EXPECT_EQ(Read(out, {0x0805}), Bytes(256, 0));
  EXPECT_EQ(Read(out, {0x300B, 0x183D}), U32s({7, 2, 8, 24, 1, 160, 120, 1, 180, 180}, false));
  qdParseFreeHeapObject(out);
}

// The capture time goes in as local clock seconds: UTC plus the zone's present
// offset, an hour less when summer time is in force now but was not then.
// Between them the two zones keep summer time on every date of the year.
TEST(HeapCreation, TheCaptureTimeInLocalClockSeconds) {
  const char* saved = std::getenv("TZ");
  const std::string restore = saved != nullptr ? saved : "";
  for (const char* zone : {"Europe/Berlin", "Australia/Sydney"}) {
    setenv("TZ", zone, 1);
    tzset();
    const time_t now = time(nullptr);
    struct tm present {};
    ASSERT_NE(localtime_r(&now, &present), nullptr);
    for (const time_t utc : {981173106, 994000000}) {  // February and July 2001
      SCOPED_TRACE(testing::Message() << zone << " " << utc);
      struct tm then {};
      ASSERT_NE(localtime_r(&utc, &then), nullptr);
      const int64_t want = utc + present.tm_gmtoff - (present.tm_isdst > 0 && then.tm_isdst == 0 ? 3600 : 0);
      ExifCaptureInfo capture{static_cast<int32_t>(utc), 1, "", ""};
      HeapObject out{};
      ASSERT_EQ(qdParseCreateHeapObjectEx(nullptr, nullptr, &capture, nullptr, nullptr, &out), QD_OK);
      const std::optional<Bytes> record = Read(out, {0x180E});
      qdParseFreeHeapObject(out);
      ASSERT_TRUE(record.has_value() && record->size() >= 4);
      EXPECT_EQ(GetU32(record->data(), false), static_cast<uint32_t>(want));
    }
  }
  saved != nullptr ? setenv("TZ", restore.c_str(), 1) : unsetenv("TZ");
  tzset();
}

// The descriptions and records the Exif path reports, made into a heap object
// and stored in a JPEG's APP0 segment, read back through the heap path. Each
// byte order of the Exif JPEG makes a heap of the same order: without a source
// (II), or over an empty big-endian heap (MM).
TEST(HeapCreation, WhatAnExifJpegReportsComesBackThroughTheHeapPath) {
  parse::ExifJpegFixture camera;
  camera.image = Image("Vedra Lumaframe T270", 40, 24, 180);
  // Image type "VRW": the Exif path describes the image rather than a thumbnail.
  camera.capture = {981173106, 1000125, "Owner", "VRW"};
  camera.shot = {5.0f, 7.0f, -1.0f / 3, 1.0f, 500, 1};
  camera.records = {
      {0x02, Le().u16(1).u16(4)}, {0x03, Le().u32(1).u32(2).u32(3)},
      {0x04, Le().u32(350u << 16).u32(2400u << 16 | 3200)}, {0x06, Le().u16(5).u16(6)},
      {0x07, Le().u32(90).u16(0)}, {0x09, Le().u16(3)}, {0x0C, Le().u16(200)},
      {0x0A, Le().u16(18).u16(1).u16(2).u16(3).u16(4).u16(5).u16(6).u16(0x4000 | 400).u16(9)},
      {0x0F, Le().u16(3)}, {0x14, Le().u16(1).u16(2).u16(64)}, {0x16, Le().u16(3).f32(1.5f)},
      {0x17, Le().f32(0.5f)}, {0x18, Le().u16(6).u16(7).u16(8)}, {0x1A, Le().u16(26).u16(27)},
      {0x2D, Le().u32(1).u32(125)}, {0x2E, Le().u32(57).u32(10)}, {0x3A, Le().u32(0x80000270)},
      {0x3C, Le().u16(0x3C).u16(1)}, {0x80, Le().u32(6).text("Vedra")}, {0x83, Le().u32(90)},
      {0x90, Le().u32(0x00050006)}};
  // Values the heap path cannot give back, and why.
  static const std::map<uint16_t, const char*> kExifOnly = {
      {0x02, "the heap path reports the settings pair only with record 0x1014"},
      {0x04, "focal info: its length is rescaled to the units record 0x14 names"},
      {0x0C, "ISO speed: the heap keeps it as settings word 16, in the settings run"},
      {0x2D, "exposure time rational"}, {0x2E, "f-number rational"},
      {0x2F, "shutter speed rational"}, {0x30, "aperture rational"},
      {0x31, "exposure bias rational"}, {0x33, "Exif version"}, {0x39, "ColorSpace tag"},
      {0x8C, "maker-note tag 0x0019"}, {0x105, "colour space from ColorSpace"},
      {0x106, "the ICC profile travels in its own segment"}, {0x107, "IIM data: likewise"}};
  const Bytes bigHeap = HeapFileBuilder(HeapBuilder(true)).Subtype("JPGM").Build();
  for (bool big : {false, true}) {
    SCOPED_TRACE(big ? "MM" : "II");
    const parse::Parsed exif = parse::Parse(camera.Build(big));
    ASSERT_EQ(exif.result, QD_OK);
    Records records(parse::ReadRecords(exif.property));
    TestStream source(parse::JpegWith({HeapApp0(bigHeap)}));
    HeapObject out{};
    const qdlStream* from = big ? source.stream() : nullptr;
    ASSERT_EQ(qdParseCreateHeapObjectEx2(from, &exif.image, &exif.capture, &exif.shot,
                                         records.list(), &out, nullptr),
              QD_OK);
    EXPECT_EQ(+out.bigEndian, big ? 1 : 0);
    const Bytes heapImage(out.block, out.block + out.headerLength + out.heapLength);
    qdParseFreeHeapObject(out);
    const parse::Parsed back = parse::Parse(parse::JpegWith({HeapApp0(heapImage)}));
    ASSERT_EQ(back.result, QD_OK);
    // Format and resolutions are not carried: the heap path derives them from
    // the heap's image class and the JPEG that holds it.
    QdImageInfo want = exif.image;
    want.format = back.image.format;
    want.xResolution = back.image.xResolution;
    want.yResolution = back.image.yResolution;
    want.fullXResolution = back.image.fullXResolution;
    want.fullYResolution = back.image.fullYResolution;
    EXPECT_EQ(parse::Describe(back.image), parse::Describe(want));
    EXPECT_EQ(parse::Describe(back.capture), parse::Describe(exif.capture));
    EXPECT_EQ(parse::Describe(back.shot), parse::Describe(exif.shot));
    EXPECT_EQ(back.comment, exif.comment);
    std::map<uint16_t, Bytes> returned;
    for (const auto& [code, payload] : parse::ReadRecords(back.property)) returned[code] = payload;
    for (const auto& [code, payload] : parse::ReadRecords(exif.property)) {
      if (kExifOnly.count(code) != 0) continue;
      SCOPED_TRACE(testing::Message() << "record 0x" << std::hex << code);
      EXPECT_EQ(returned.count(code) != 0 ? returned[code] : Bytes{0xEE}, payload);
    }
    EXPECT_EQ(LiveBlocks(), 0);
  }
}

}  // namespace
}  // namespace qdtest
