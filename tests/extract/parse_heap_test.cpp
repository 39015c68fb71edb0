// The heap path: heap files, JPEG files with a heap in APP0 and TIFF RAW
// files described and their properties written as typed records.
#include <gtest/gtest.h>

#include "exifwrite/camera_models.h"
#include "exifwrite/exif_support.h"
#include "extract/parse_support.h"

namespace {

using namespace qdtest;
using namespace qdtest::parse;

class HeapPath : public ParseTest, public testing::WithParamInterface<bool> {
 protected:
  bool be() const { return GetParam(); }
  HeapContent rich_ = RichHeap(GetParam());
};

TEST_P(HeapPath, RichHeapInEveryKind) {
  const struct {
    Bytes file;
    uint8_t type;
    const char* thumb;
  } rows[] = {
      {HeapFile(rich_, be()), 1, "format 0 bits 0/0 colour 0 0x0 aspect 0 res 0x0"},
      {JpegHeap(rich_, be()), 2, "format 2 bits 8/24 colour 1 40x24 aspect 0.5 res 300x150"},
      {TiffRaw(rich_, be()), 3, "format 2 bits 8/24 colour 1 160x120 aspect 1 res 72x96"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(+row.type);
    EXPECT_EQ(FileType(row.file), row.type);
    const Parsed p = Parse(row.file, 123456);
    ASSERT_EQ(p.result, QD_OK);
    // Format 1 takes the heap's bits per pixel, not the file size.
    EXPECT_EQ(Describe(p.image),
              "'Vedra ARX K24 Pro' format 1 bits 12/36 colour 1 3000x2000 aspect 1 res 180x180 "
              "cbpp 2.5 data 1 full 3000x2000 aspect 1 res 180x180 flags 2");
    EXPECT_EQ(Describe(p.thumb), "'Vedra ARX K24 Pro' "s + row.thumb);
    EXPECT_TRUE(AllZero(p.aux));
    EXPECT_EQ(Describe(p.capture),
              "time 999996400 number 123456 owner 'Heap owner' type 'Heap image type'");
    EXPECT_EQ(Describe(p.shot), "3.5 2.5 1.5 0.75 4 1");
    EXPECT_EQ(ReadRecords(p.comment),
              (RecordStream{{0x0B, Le().u32(0).u32(0).u32(15).text("A heap comment").u8(0)}}));
    EXPECT_EQ(p.record(0x80), Bytes(Le().u32(6).text("Vedra").u8(0)));
    EXPECT_EQ(p.record(0x04), Bytes(Le().u16(1).u16(25).u16(0x0C00).u16(0x0800)));  // 50 / 2
    EXPECT_EQ(p.record(0x107), row.type == 1 ? Bytes{0xEE} : Iim());
  }
}

// What a variant of the rich heap changes: the file type, the image, capture
// and shot values, and the ISO and custom-function records.
std::string Summary(const Bytes& file, const Parsed& p) {
  const Bytes iso = p.record(0x0C);
  return "type " + std::to_string(FileType(file)) + " | " + Describe(p.image) + " | " +
         Describe(p.capture) + " | " + Describe(p.shot) + " | iso " +
         (iso.size() == 2 ? std::to_string(GetU16(iso.data(), false)) : "none") + " | custom " +
         std::to_string(p.record(0x0D).size());
}

enum Kind { kHeapFile, kJpegHeap, kGreyJpegHeap, kTiffRaw };

// Records replaced in, or (with an empty value) removed from, the rich heap.
TEST_P(HeapPath, VariantsOfTheRichHeap) {
  const auto shot = [&](size_t k, uint16_t v) {
    std::vector<uint16_t> si = RichShotInfo();
    si[k] = v;
    return Words(si, be());
  };
  std::vector<uint16_t> cs = RichSettings();
  cs[16] = 100;
  const auto image = [&](uint32_t format, uint32_t bits, uint32_t colour) {  // at aspect 0.5
    return HeapContent{{0x1803, U32s({format, Bits(2.5f)}, be())},
                       {0x1810, U32s({3000, 2000, Bits(0.5f), 0, bits, 36, colour}, be())}};
  };
  const struct {
    const char* name;
    Kind kind;
    HeapContent change;
    uint32_t result;
    std::string part;  // of the summary
  } rows[] = {
      {"no file number", kHeapFile, {{0x1817, {}}}, QD_OK, "number ffffffff "},
      {"shot words, aperture unset", kHeapFile, {{0x180E, U32s({100, 200, 0}, be())}, {0x1813, {}},
       {0x1805, {}}, {0x1026, {}}, {0x102A, shot(4, 0x8000)}}, QD_OK,
       "time 0 number 123456 owner 'Heap owner' type 'Heap image type' | -1 2 0.5 2 4 1"},
      {"firmware text that is not one", kHeapFile, {{0x080B, Text("Firmwxre Version 2.10")}},
       QD_OK, "| 3.5 2.5 1.5 0.75 c 1 | iso none | custom 32"},  // 0x1805 / 100
      {"short custom functions", kHeapFile, {{0x1033, U16s({1, 2}, be())}}, QD_OK, "custom 1"},
      {"ISO 100", kHeapFile, {{0x102A, shot(2, 160)}}, QD_OK, "iso 100 "},
      {"ISO 160", kHeapFile, {{0x102A, shot(2, 180)}}, QD_OK, "iso 160 "},
      {"no ISO speed", kHeapFile, {{0x102A, shot(2, 31)}}, QD_OK, "iso none "},
      {"ISO in the settings", kHeapFile, {{0x102D, Words(cs, be())}}, QD_OK, "iso none "},
      {"model of 40 characters", kHeapFile, {{0x080A, Text("Vedra\0"s + std::string(40, 'n'))}},
       QD_OK, "| '" + std::string(28, 'n') + "' format"},
      {"maker and model of 63 characters", kHeapFile, {{0x080A, Text(std::string(63, 'v'))}},
       QD_E_UNSUPPORTED, "type 1 | '' format 0"},
      {"no capture time", kHeapFile, {{0x180E, {}}}, QD_E_UNSUPPORTED, "type 1 | '' format 0"},
      {"grey heap image", kHeapFile, image(0x00030003, 12, 0x0100), QD_OK,
       "format 3 bits 8/36 colour 0 3000x2000 aspect 0.5 res 0x0 cbpp 0.0218453 data 3 full 0x0 "},
      {"16-bit TIFF RAW", kTiffRaw, image(0x00030002, 16, 0x0001), QD_OK,
       "type 9 | 'Vedra ARX K24 Pro' format 9 bits 16/36 colour 1 3000x2000 aspect 0.5 res 180x180 "
       "cbpp 0.0218453 data 3 full 3000x2000 aspect 1 res 180x180 flags 0"},
      {"16-bit heap file", kHeapFile, image(0x00030000, 16, 0x0001), QD_OK,
       "type 1 | 'Vedra ARX K24 Pro' format 9 bits 16/36"},
      {"frame disagrees with the colour flag", kGreyJpegHeap, image(0x00010003, 12, 0x0001), QD_OK,
       "format 2 bits 12/36 colour 1 3000x2000 aspect 0.5 res 180x180 cbpp 0.0218453 data 1 "
       "full 40x24 aspect 1 res 180x180"},
      {"JFIF densities", kJpegHeap, image(0x00010000, 12, 0x0001), QD_OK,
       "res 300x150 cbpp 0.0218453 data 1 full 3000x2000 aspect 0.5 res 300x150 flags 0"},
      {"developed: 2000 / 0.5", kJpegHeap, image(0x00010000, 12, 0x0101), QD_OK,
       "res 186x180 cbpp 0.0218453 data 1 full 3000x4000 aspect 1 res 180x180 flags 2"},
      {"unknown image class: the JPEG frame", kJpegHeap, image(0x00070000, 12, 1),
       QD_E_NOT_APPLICABLE, "format 2 bits 8/24 colour 1 40x24 aspect 1 res 180x180 cbpp 136.533 "
       "data 1 full 40x24 aspect 1 res 180x180 flags 0"},  // 16384 bytes over its pixels
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    HeapContent h = rich_;
    for (const auto& [type, value] : row.change) {
      if (value.empty()) h.erase(type);
      if (!value.empty()) h[type] = value;
    }
    const Bytes file = row.kind == kHeapFile ? HeapFile(h, be())
                       : row.kind == kTiffRaw ? TiffRaw(h, be())
                                              : JpegHeap(h, be(), {40, 24, row.kind == kJpegHeap ? 3 : 1,
                                                                   row.kind == kJpegHeap ? 0x22 : 0x11});
    const Parsed p = Parse(file, 16384);
    EXPECT_EQ(p.result, row.result);
    EXPECT_NE(Summary(file, p).find(row.part), std::string::npos) << Summary(file, p);
  }
}

// The heap's capture time is the camera clock, kept in local time.
TEST_P(HeapPath, CaptureTimeInTheLocalZone) {
  Zone("XYZ-9");
  EXPECT_EQ(+Parse(HeapFile(rich_, be())).capture.time, 999996400 - 9 * 3600);
}

INSTANTIATE_TEST_SUITE_P(ByteOrders, HeapPath, testing::Bool(),
                         [](const auto& info) { return info.param ? "MM" : "II"; });

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
