// The heap path: heap files, JPEG files with a heap in APP0 and TIFF RAW
// files described and their properties written as typed records.
#include <gtest/gtest.h>

#include "exifwrite/camera_models.h"
#include "exifwrite/exif_support.h"
#include "extract/parse_support.h"
#include "extract/typed_records.h"

namespace {

using namespace qdtest;
using namespace qdtest::parse;

enum class Kind { kHeapFile, kJpegHeap, kTiffRaw };

Bytes Build(Kind kind, const HeapContent& c, bool be, const JpegShape& shape = {}, const Bytes& jfif = {}) {
  switch (kind) {
    case Kind::kHeapFile: return HeapFile(c, be);
    case Kind::kJpegHeap: return JpegHeap(c, be, shape, jfif);
    case Kind::kTiffRaw: return TiffRaw(c, be);
  }
  return {};
}

const char* const kRichImage =
    "'Vedra ARX K24 Pro' format 1 bits 12/36 colour 1 3000x2000 aspect 1 res 180x180 cbpp 2.5 data 1 "
    "full 3000x2000 aspect 1 res 180x180 path ffffffff ffffffff ffffffff flags 2";

// What the rich heap writes, in order.
RecordStream RichRecords(Kind kind) {
  Le custom;
  for (uint16_t i = 0; i < 16; ++i) custom.u16(static_cast<uint16_t>(0x3300 + i));
  RecordStream r = {
      {0x02, Le().u16(0x0102).u16(0x0304)}, {0x03, Le().u16(1).u16(2).u16(3).u16(4).u16(5).u16(6)},
      {0x04, Le().u16(1).u16(25).u16(0x0C00).u16(0x0800)},  // 50 / CS[25] 64 * 32
      {0x06, Le().u16(1).u16(2)}, {0x10, Le().u16(14)}, {0x17, Le().f32(-0.5f)}, {0x16, Le().u16(3).f32(1.5f)},
      {0x11, Le().u16(24)}, {0x07, Le().u32(270).u16(0)}, {0x09, Le().u16(7)}, {0x0F, Le().u16(11)},
      {0x12, Le().u16(3)},
      {0x0A, Le().u16(18).u16(0x21).u16(0x22).u16(0xFFFF).u16(0x7FFF).u16(0x7FFF).u16(0x7FFF).u16(0).u16(0xFFFF)},
      {0x13, Le().u16(5)}, {0x14, Le().u16(0x18).u16(0x24).u16(64)}, {0x15, Le().u16(6)},
      {0x18, Le().u16(14).u16(0x40).u16(0xFFFF).u16(0xFFFF).u16(0).u16(0).u16(0)}, {0x19, Le().u16(1)},
      {0x1A, Le().u16(1).u16(2)}, {0x2B, Le().u16(0x28)}, {0x2C, Le().u16(0x2A)}, {0x0D, custom},
      {0x0E, Le().u32(0xCAFE0001)}, {0x0C, Le().u16(125)}, {0x1B, Le().u32(0x1881)}, {0x1E, Le().u16(0x1082)},
      {0x21, Bytes{0x85, 0}}, {0x2A, Le().u16(0x108E)}, {0x3A, Le().u32(0x80000001)},
      {0x3B, Le().u16(0x39).u16(1).u16(2).u16(3)}, {0x3C, Le().u32(0x3B)}, {0x80, Le().u32(6).text("Vedra").u8(0)},
      {0x82, Le().u16(0x1081).u16(1)}, {0x83, Le().u32(90)}, {0x84, Le().u16(0xAE)}, {0x85, Le().u16(2)},
      {0x86, Le().u16(0xB5).u16(1)}, {0x87, Le().u16(0x38).u16(0)}, {0x8E, Bytes{0x3F, 1, 2}},
      {0x90, Le().u32(0x00050006)}, {0x105, Le().u16(2)},
  };
  if (kind == Kind::kTiffRaw) {
    r.erase(std::find_if(r.begin(), r.end(), [](const auto& e) { return e.first == 0x09; }));
  }
  if (kind != Kind::kHeapFile) r.insert(r.end(), {{0x106, Icc()}, {0x107, Iim()}});
  return r;
}

bool HasCode(const RecordStream& r, uint16_t code) {
  return std::any_of(r.begin(), r.end(), [code](const auto& e) { return e.first == code; });
}

class HeapPath : public ParseTest, public testing::WithParamInterface<bool> {
 protected:
  bool be() const { return GetParam(); }
  Parsed Run(const HeapContent& c, Kind kind = Kind::kHeapFile, const JpegShape& shape = {}, const Bytes& jfif = {}) {
    return Parse(Build(kind, c, be(), shape, jfif));
  }

  HeapContent rich_ = RichHeap(GetParam());
};

TEST_P(HeapPath, RichHeapInEveryKind) {
  const struct {
    Kind kind;
    uint8_t type;
    const char* thumb;
  } cases[] = {
      {Kind::kHeapFile, 1, "'Vedra ARX K24 Pro' format 0 bits 0/0 colour 0 0x0 aspect 0 res 0x0"},
      {Kind::kJpegHeap, 2, "'Vedra ARX K24 Pro' format 2 bits 8/24 colour 1 40x24 aspect 0.5 res 300x150"},
      {Kind::kTiffRaw, 3, "'Vedra ARX K24 Pro' format 2 bits 8/24 colour 1 160x120 aspect 1 res 72x96"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(+c.type);
    const Bytes file = Build(c.kind, rich_, be());
    EXPECT_EQ(FileType(file), c.type);
    const Parsed p = Parse(file, 123456);
    ASSERT_EQ(p.result, QD_OK);
    EXPECT_EQ(Describe(p.image), kRichImage);  // format 1 takes the heap's bits per pixel, not the file size
    EXPECT_EQ(Describe(p.thumb), c.thumb);
    EXPECT_EQ(Describe(p.aux), "'' format 0 bits 0/0 colour 0 0x0 aspect 0 res 0x0 extra 0 0 0");
    EXPECT_EQ(Describe(p.capture), "time 999996400 number 123456 owner 'Heap owner' type 'Heap image type'");
    EXPECT_EQ(Describe(p.shot), "3.5 2.5 1.5 0.75 4 1");
    EXPECT_EQ(p.records(), RichRecords(c.kind));
    EXPECT_EQ(ReadRecords(p.comment),
              (RecordStream{{0x0B, Le().u32(0).u32(0).u32(15).text("A heap comment").u8(0)}}));
    EXPECT_TRUE(p.dcf.empty());
  }
}

TEST_P(HeapPath, ModelNameAndRequiredRecords) {
  const std::string m31(31, 'm'), m40(40, 'n');
  const struct {
    std::optional<Bytes> makerModel;
    bool withTime;
    uint32_t result;
    std::string model;
  } cases[] = {
      {Text("Vedra\0"s + m31), true, QD_OK, m31},
      {Text("Vedra\0"s + m40), true, QD_OK, m40.substr(0, 28)},
      {Text(std::string(62, 'v') + "\0"s), true, QD_OK, ""},  // 62 characters and both NULs fill the record
      {Text(std::string(63, 'v')), true, QD_E_UNSUPPORTED, ""},
      {std::nullopt, true, QD_E_UNSUPPORTED, ""},
      {Text("Vedra\0Model"s), false, QD_E_UNSUPPORTED, ""},
  };
  for (const auto& c : cases) {
    HeapContent h = rich_;
    h.erase(0x080A);
    if (c.makerModel) h[0x080A] = *c.makerModel;
    if (!c.withTime) h.erase(0x180E);
    const Parsed p = Run(h);
    EXPECT_EQ(p.result, c.result) << c.model;
    EXPECT_EQ(std::string(p.image.model), c.model);
    if (p.result != QD_OK) EXPECT_TRUE(AllZero(p.image)) << "the driver's cleared record stays";
  }
}

TEST_P(HeapPath, FirmwareCheckDropsTheArrays) {
  rich_[0x080B] = Text("Firmwxre Version 2.10");
  const Parsed p = Run(rich_);
  ASSERT_EQ(p.result, QD_OK);
  EXPECT_EQ(Describe(p.shot), "3.5 2.5 1.5 0.75 c 1") << "0x1805 / 100 instead of settings word 2";
  const RecordStream r = p.records();
  for (uint16_t code : {0x06, 0x10, 0x17, 0x16, 0x11, 0x12, 0x0A, 0x13, 0x14, 0x15, 0x18, 0x19, 0x1A, 0x2B, 0x0C}) {
    EXPECT_FALSE(HasCode(r, code)) << code;
  }
  EXPECT_EQ(r.at(2), (std::pair<uint16_t, Bytes>{0x04, Le().u16(1).u16(50).u16(0x0C00).u16(0x0800)}));
  EXPECT_EQ(r.at(5), (std::pair<uint16_t, Bytes>{0x0F, Le().u16(5)})) << "0x1026 word 0";
}

TEST_P(HeapPath, ThumbnailOfAJpegUpTo96By95) {
  const struct {
    JpegShape shape;
    Bytes jfif;  // instead of the encoder's (units 1, 300 x 150)
    const char* thumb;
  } cases[] = {
      {{96, 95, 3}, {}, "format 2 bits 8/24 colour 1 96x95 aspect 0.5 res 300x150"},
      {{96, 95, 1, 0x11}, {}, "format 2 bits 8/8 colour 0 96x95 aspect 0.5 res 300x150"},
      {{97, 95, 3}, {}, "format 0 bits 0/0 colour 0 0x0 aspect 0 res 0x0"},
      {{96, 96, 3}, {}, "format 0 bits 0/0 colour 0 0x0 aspect 0 res 0x0"},
      {{16, 16, 3, 0x22, false, false}, JfifApp0(kJfifVersion, 2, 72, 72),  // not in inches
       "format 2 bits 8/24 colour 1 16x16 aspect 1 res 180x180"},
      {{16, 16, 3, 0x22, false, false}, JfifApp0(kJfifVersion, 1, 0, 72),
       "format 2 bits 8/24 colour 1 16x16 aspect 1 res 0x72"},
  };
  for (const auto& c : cases) {
    const Parsed p = Run(rich_, Kind::kJpegHeap, c.shape, c.jfif);
    ASSERT_EQ(p.result, QD_OK) << c.thumb;
    EXPECT_EQ(Describe(p.thumb), "'Vedra ARX K24 Pro' "s + c.thumb);
  }
}

TEST_P(HeapPath, LumaframeEightFortyTiffRaw) {
  // Thumbnail from the TIFF image info; developed size: 2000 / 0.75 cut to a multiple of 8.
  rich_[0x080A] = Text("Vedra\0Vedra Lumaframe 840"s);
  rich_[0x1810] = U32s({3000, 2000, Bits(0.75f), 0, 12, 36, 0x0101}, be());
  const Parsed p = Run(rich_, Kind::kTiffRaw);
  ASSERT_EQ(p.result, QD_OK);
  EXPECT_EQ(Describe(p.thumb), "'Vedra Lumaframe 840' format 3 bits 8/24 colour 1 6x2 aspect 0.966102 res 186x180");
  EXPECT_EQ(Describe(p.image),
            "'Vedra Lumaframe 840' format 1 bits 12/36 colour 1 3000x2000 aspect 0.75 res 186x180 cbpp 2.5 data 1 "
            "full 3000x2664 aspect 1 res 180x180 path ffffffff ffffffff ffffffff flags 2");
  EXPECT_FALSE(HasCode(p.records(), 0x0F)) << "not a record of this model";

  // With 16-bit samples it is type 9, whose format takes the simple rule.
  rich_[0x1803] = U32s({0x00030000, Bits(2.5f)}, be());
  rich_[0x1810] = U32s({3000, 2000, Bits(0.75f), 0, 16, 48, 0x0101}, be());
  const Bytes sixteen = Build(Kind::kTiffRaw, rich_, be());
  EXPECT_EQ(FileType(sixteen), 9);
  const std::string image = Describe(Parse(sixteen).image);
  EXPECT_EQ(image.substr(image.find("res")), "res 180x180 cbpp 2.5 data 1 full 3000x2000 aspect 1 res 180x180 "
                                              "path ffffffff ffffffff ffffffff flags 2");
}

TEST_P(HeapPath, ImageFormatDataCodeAndFullView) {
  const struct {
    Kind kind;
    uint32_t formatWord, componentBits, colourWord;
    uint8_t components;  // of the JPEG frame
    uint8_t type;
    const char* image;   // from the format code on
  } cases[] = {
      {Kind::kHeapFile, 0x00030000, 12, 0x0101, 3, 1,
       "format 3 bits 12/36 colour 1 3000x2000 aspect 0.5 res 0x0 cbpp 0.0218453 data 1 full 0x0 aspect 0 res 0x0"},
      {Kind::kHeapFile, 0x00030003, 12, 0x0100, 3, 1,
       "format 3 bits 8/36 colour 0 3000x2000 aspect 0.5 res 0x0 cbpp 0.0218453 data 3 full 0x0 aspect 0 res 0x0"},
      {Kind::kTiffRaw, 0x00030002, 16, 0x0001, 3, 9,
       "format 9 bits 16/36 colour 1 3000x2000 aspect 0.5 res 180x180 cbpp 0.0218453 data 3 full 3000x2000 aspect 1 "
       "res 180x180"},
      {Kind::kHeapFile, 0x00030000, 16, 0x0001, 3, 1,  // only a TIFF RAW becomes type 9
       "format 9 bits 16/36 colour 1 3000x2000 aspect 0.5 res 180x180 cbpp 0.0218453 data 1 full 3000x2000 aspect 1 "
       "res 180x180"},
      {Kind::kHeapFile, 0x00010007, 12, 0x0000, 3, 1,  // no frame: the image size at aspect 1
       "format 2 bits 8/36 colour 0 3000x2000 aspect 0.5 res 180x180 cbpp 0.0218453 data 2 full 3000x2000 aspect 1 "
       "res 180x180"},
      {Kind::kJpegHeap, 0x00010003, 12, 0x0001, 1, 2,  // frame disagrees with the colour flag
       "format 2 bits 12/36 colour 1 3000x2000 aspect 0.5 res 180x180 cbpp 0.0218453 data 1 full 40x24 aspect 1 "
       "res 180x180"},
      {Kind::kJpegHeap, 0x00010000, 12, 0x0001, 3, 2,
       "format 2 bits 12/36 colour 1 3000x2000 aspect 0.5 res 300x150 cbpp 0.0218453 data 1 full 3000x2000 "
       "aspect 0.5 res 300x150"},
      {Kind::kJpegHeap, 0x00010000, 12, 0x0101, 3, 2,  // developed: 2000 / 0.5
       "format 2 bits 12/36 colour 1 3000x2000 aspect 0.5 res 186x180 cbpp 0.0218453 data 1 full 3000x4000 aspect 1 "
       "res 180x180"},
      {Kind::kJpegHeap, 0x00010000, 12, 0x0100, 1, 2,  // developed, monochrome
       "format 2 bits 8/36 colour 0 3000x2000 aspect 0.5 res 186x180 cbpp 0.0218453 data 1 full 3000x2000 "
       "aspect 0.5 res 186x180"},
  };
  for (const auto& c : cases) {
    HeapContent h = rich_;
    h[0x1803] = U32s({c.formatWord, Bits(2.5f)}, be());
    h[0x1810] = U32s({3000, 2000, Bits(0.5f), 0, c.componentBits, 36, c.colourWord}, be());
    const auto sampling = static_cast<uint8_t>(c.components == 1 ? 0x11 : 0x22);
    const Bytes file = Build(c.kind, h, be(), {40, 24, c.components, sampling});
    EXPECT_EQ(FileType(file), c.type);
    const Parsed p = Parse(file, 16384);
    ASSERT_EQ(p.result, QD_OK);
    const std::string image = Describe(p.image);
    EXPECT_EQ(image.substr(image.find("format"), image.find(" path") - image.find("format")), c.image) << c.formatWord;
  }
}

TEST_P(HeapPath, JpegFallbackForUnknownOrMissingImageRecords) {
  // An unknown image class: the JPEG's own frame, result 0x04000050 unless
  // the caller asked for no shot values.
  rich_[0x1803] = U32s({0x00070000, Bits(2.5f)}, be());
  const Bytes unknown = Build(Kind::kJpegHeap, rich_, be());
  const Parsed p = Parse(unknown, 960);
  EXPECT_EQ(p.result, QD_E_NOT_APPLICABLE);
  EXPECT_EQ(Describe(p.image),
            "'Vedra ARX K24 Pro' format 2 bits 8/24 colour 1 40x24 aspect 1 res 180x180 cbpp 8 data 1 full 40x24 "
            "aspect 1 res 180x180 path ffffffff ffffffff ffffffff flags 0");
  EXPECT_EQ(Describe(p.thumb), "'Vedra ARX K24 Pro' format 2 bits 8/24 colour 1 40x24 aspect 1 res 180x180");
  TestStream in(unknown);
  EXPECT_EQ(QDParseThumbnailFileStream(in.stream(), 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
            QD_OK);

  // No image records: only the "Lumaframe 520" models fall back (640 x 480, shot values absent).
  rich_.erase(0x1803);
  EXPECT_EQ(Run(rich_, Kind::kJpegHeap).result, QD_E_UNSUPPORTED);
  rich_[0x080A] = Text("Vedra\0Lumaframe 520"s);
  const Parsed old = Run(rich_, Kind::kJpegHeap);
  EXPECT_EQ(old.result, QD_E_NOT_APPLICABLE);
  EXPECT_EQ(Describe(old.thumb), "'Lumaframe 520' format 2 bits 8/24 colour 1 80x60 aspect 1 res 180x180");
  EXPECT_EQ(+old.image.width, 640);
  EXPECT_EQ(Describe(old.shot), "-1 100 100 -1 ffff ff");
}

TEST_P(HeapPath, CaptureTimeShotFallbacksAndIsoSpeed) {
  rich_[0x180E] = U32s({100, 200, 0}, be());  // before its own zone offset: unknown
  rich_.erase(0x1813);                        // shot words instead of 0x1818
  rich_.erase(0x1805);
  rich_.erase(0x1026);
  const Parsed p = Run(rich_);
  ASSERT_EQ(p.result, QD_OK);
  EXPECT_EQ(+p.capture.time, 0);
  EXPECT_EQ(Describe(p.shot), "3 2 0.5 2 4 1");  // words 4, 5, 6 and 13 in 1/32; settings words 2 and 1

  const struct {
    uint16_t shotWord2, settingsWord16;
    int iso;  // 0: no record
  } cases[] = {{160, 0, 100}, {168, 0x7FFF, 125}, {180, 0, 160}, {31, 0, 0}, {160, 100, 0}, {1024, 0, 0}};
  for (const auto& c : cases) {
    std::vector<uint16_t> si = RichShotInfo(), cs = RichSettings();
    si[2] = c.shotWord2;
    cs[16] = c.settingsWord16;
    rich_[0x102A] = Words(si, be());
    rich_[0x102D] = Words(cs, be());
    const RecordStream r = Run(rich_).records();
    const auto iso = std::find_if(r.begin(), r.end(), [](const auto& e) { return e.first == 0x0C; });
    EXPECT_EQ(iso == r.end() ? 0 : GetU16(iso->second.data(), false), c.iso) << c.shotWord2;
  }
}

INSTANTIATE_TEST_SUITE_P(ByteOrders, HeapPath, testing::Bool(),
                         [](const auto& info) { return info.param ? "MM" : "II"; });

TEST(CameraModels, RecordsByPrefixAndExactRules) {
  using qd::camera::HasRecord;
  const struct {
    const char* model;
    uint16_t code;
    bool has;
  } cases[] = {
      {"Vedra ARX K24 Pro", 13, true},     {"Vedra ARX K2", 13, false},        {"Vedra Lumaframe B70", 14, false},
      {"Vedra Lumaframe B7", 14, false},   {"Vedra Lumaframe B", 14, true},    {"Vedra Lumaframe 840", 15, false},
      {"Vedra Lumaframe 840X", 15, true},  {"Vedra DIGITAL ZELO q", 25, true}, {"Vedra DIGITAL ZELO", 25, true},
      {"Vedra DIGITAL ZELO 5", 25, false}, {"Vedra ARX-7QT", 29, true},        {"Vedra ARX-7", 29, false},
      {"Vedra ARX K24", 12, true},         {"Vedra ARX K24", 30, false},       {"Vedra ARX K48", 30, true},
  };
  for (const auto& c : cases) EXPECT_EQ(HasRecord(c.model, c.code), c.has) << c.model << " " << c.code;
}

}  // namespace
