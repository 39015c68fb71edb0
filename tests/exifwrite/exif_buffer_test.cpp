// Exif property buffers and maker notes: which value lands in which IFD, in
// which order, from the caller's records; hostile records; allocation
// failures. The tree is read back with the reader of exif_support.h.
#include "exifwrite/exif_buffer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "exifwrite/exif_support.h"
#include "frame/memory_block.h"
#include "support/fault_sweep.h"

namespace qdtest {
namespace {

using Tags = std::vector<uint16_t>;
using Nums = std::vector<uint32_t>;
const ExifExport kBasic = qdParseCreateExifPropBuffer, kEx = qdParseCreateExifPropBufferEx;

// A build copied out of its block, which is released at once.
struct Built {
  uint32_t result = 0;
  Bytes payload;
  TiffReader r;
  ExifTree t;

  Nums Numbers(const Ifd& ifd, uint16_t tag) const { return Find(ifd, tag) ? r.Numbers(*Find(ifd, tag)) : Nums{}; }
  std::string Text(const Ifd& ifd, uint16_t tag) const { return Find(ifd, tag) ? r.Text(*Find(ifd, tag)) : "-"; }
  Bytes Raw(const Ifd& ifd, uint16_t tag) const { return Find(ifd, tag) ? r.Value(*Find(ifd, tag)) : Bytes{}; }
  uint32_t CS(size_t i) const { return Element(0x0001, i); }  // camera settings
  uint32_t SI(size_t i) const { return Element(0x0004, i); }  // shot information
  uint32_t Element(uint16_t tag, size_t i) const {
    const Nums v = Numbers(t.maker, tag);
    return i < v.size() ? v[i] : 0xDEAD;
  }
};

Built Collect(uint32_t result, const ExifBlock& b) {
  Built out;
  out.result = result;
  if (result != QD_OK) {
    EXPECT_TRUE(AllZero(b.info)) << "a failed build leaves the descriptor clear";
    return out;
  }
  const uint8_t* segment = b.info.segment;
  EXPECT_EQ(uint32_t{b.info.tiffSize} + 6, qd::BlockLength(segment));
  EXPECT_EQ(static_cast<uint8_t*>(b.info.tiff), segment + 6);
  EXPECT_EQ(uint32_t{b.info.ifdOffset}, 8u);
  EXPECT_EQ(uint8_t{b.info.byteOrder}, segment[6] == 'M' ? 1 : 0);
  out.payload = b.payload();
  out.r = TiffReader(b.tiff());
  out.t = ExifTree(out.r);
  return out;
}

Built Make(const RecordList& list = {}, const ExifImageInfo* image = nullptr, ExifExport entry = kEx,
           const ExifShotValues* shot = nullptr, const ExifCaptureInfo* capture = nullptr) {
  Records records(list);
  ExifBlock b;
  return Collect(entry(image, capture, shot, records.list(), &b.info), b);
}

Built Make(RichInput& in, ExifExport entry) {
  ExifBlock b;
  return Collect(in.Call(entry, &b.info), b);
}

Bytes Pattern(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 7 + 1);
  return b;
}

class ExifBuffer : public testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
    live_ = LiveBlocks();
  }
  void TearDown() override { EXPECT_EQ(LiveBlocks(), live_) << "blocks leaked"; }

 private:
  int64_t live_ = 0;
};

// Without any input; the oracle tests read back the defaults that a rich
// input does not replace.
TEST_F(ExifBuffer, DefaultsOfTheExtendedAndBasicForms) {
  const Built ex = Make();
  ASSERT_EQ(ex.result, QD_OK);
  EXPECT_EQ(TagsOf(ex.t.ifd0), (Tags{0x010F, 0x0110, 0x0112, 0x011A, 0x011B, 0x0128, 0x0132, 0x0213, 0x8769}));
  EXPECT_EQ(TagsOf(ex.t.exif),
            (Tags{0x9000, 0x9003, 0x9004, 0x9101, 0x927C, 0x9286, 0xA000, 0xA001, 0xA002, 0xA003, 0xA005}));
  EXPECT_EQ(TagsOf(ex.t.maker), (Tags{0x0006, 0x0007, 0x0008, 0x0009, 0x0019}));
  EXPECT_EQ(TagsOf(ex.t.interop), (Tags{0x0001, 0x0002, 0x1001, 0x1002}));
  EXPECT_EQ(ex.t.ifd1At, 0u) << "no thumbnail, no IFD1";
  EXPECT_EQ(ex.Raw(ex.t.ifd0, 0x0110), Bytes(32, 0));
  EXPECT_EQ(ex.Numbers(ex.t.ifd0, 0x0112), Nums{1});
  EXPECT_EQ(ex.Numbers(ex.t.ifd0, 0x011B), (Nums{180, 1}));
  EXPECT_EQ(ex.Raw(ex.t.ifd0, 0x0132), Bytes(20, 0));
  EXPECT_EQ(ex.Raw(ex.t.exif, 0x9286), Bytes(264, 0));
  EXPECT_EQ(ex.Numbers(ex.t.exif, 0xA002), Nums{0});
  EXPECT_EQ(ex.Text(ex.t.maker, 0x0007), "Firmware Version 00.00");
  EXPECT_EQ(ex.Numbers(ex.t.maker, 0x0019), Nums{1});
  // Width 0 is not greater than height 0: no interoperability IFD; no firmware text.
  const Built basic = Make({}, nullptr, kBasic);
  EXPECT_EQ(Find(basic.t.exif, 0xA005), nullptr);
  EXPECT_EQ(basic.Raw(basic.t.maker, 0x0007), Bytes(32, 0));
}

TEST_F(ExifBuffer, EveryOptionalTagInTableOrderAndTheLosslessTwin) {
  RichInput in(Pattern(100), true);
  const Built ex = Make(in, kEx);
  ASSERT_EQ(ex.result, QD_OK);
  EXPECT_EQ(TagsOf(ex.t.ifd0), (Tags{0x010F, 0x0110, 0x0112, 0x011A, 0x011B, 0x0128, 0x0132, 0x013E, 0x013F, 0x0211,
                                     0x0213, 0x8769}));
  EXPECT_EQ(TagsOf(ex.t.exif), (Tags{0x829A, 0x829D, 0x8827, 0x9000, 0x9003, 0x9004, 0x9101, 0x9201, 0x9202, 0x9204,
                                     0x9209, 0x920A, 0x927C, 0x9286, 0xA000, 0xA001, 0xA002, 0xA003, 0xA005, 0xA20E,
                                     0xA20F, 0xA210, 0xA300, 0xA401, 0xA402, 0xA403, 0xA404, 0xA406, 0xA500}));
  EXPECT_EQ(TagsOf(ex.t.ifd1), (Tags{0x0103, 0x011A, 0x011B, 0x0128, 0x0201, 0x0202}));
  EXPECT_EQ(ex.Text(ex.t.exif, 0x9003), "2023:11:14 22:13:20");
  EXPECT_EQ(ex.Numbers(ex.t.maker, 0x0008), Nums{1000123});
  EXPECT_EQ(ex.Text(ex.t.maker, 0x0009), "Test Owner");
  EXPECT_EQ(ex.Text(ex.t.maker, 0x0006), "JPEG test image");

  // The maker note in its order (0x00AE between 0x00B3 and 0x00B4), each
  // pass-through tag with its type and the first 16 bits of its record: the
  // record's code, or for 0x85 the colour mode.
  const struct {
    uint16_t tag, type, first;  // first 0: not a pass-through tag
  } maker[] = {{0x0001, 3, 0},     {0x0002, 3, 0},     {0x0003, 3, 0},     {0x0004, 3, 0},     {0x0005, 3, 0},
               {0x0006, 2, 0},     {0x0007, 2, 0},     {0x0008, 4, 0},     {0x0009, 2, 0},     {0x000C, 4, 0},
               {0x000F, 3, 0x0D},  {0x0010, 4, 0x3A},  {0x0012, 3, 0x87},  {0x0013, 3, 0x3B},  {0x0015, 4, 0x3C},
               {0x0016, 4, 0x83},  {0x0019, 3, 0},     {0x001A, 3, 0x8D},  {0x001B, 1, 0x8E},  {0x001D, 3, 0x108},
               {0x0023, 4, 0x111}, {0x0080, 4, 0x1B},  {0x0081, 4, 0x1C},  {0x0090, 3, 0x1D},  {0x0091, 3, 0x1E},
               {0x0092, 3, 0x1F},  {0x0093, 3, 0x20},  {0x0094, 7, 0x21},  {0x00A0, 3, 0x22},  {0x00A1, 3, 0x23},
               {0x00A2, 3, 0x24},  {0x00A3, 3, 0x25},  {0x00A4, 3, 0x26},  {0x00B0, 3, 0x27},  {0x00B1, 3, 0x28},
               {0x00B2, 3, 0x29},  {0x00B3, 3, 0x2A},  {0x00AE, 3, 0x84},  {0x00B4, 3, 2}   ,  {0x00B5, 3, 0x86}};
  ASSERT_EQ(ex.t.maker.size(), std::size(maker));
  for (size_t i = 0; i < std::size(maker); ++i) {
    SCOPED_TRACE(testing::Message() << "maker-note tag 0x" << std::hex << maker[i].tag);
    EXPECT_EQ(ex.t.maker[i].tag, maker[i].tag);
    EXPECT_EQ(ex.t.maker[i].type, maker[i].type);
    const Bytes v = ex.r.Value(ex.t.maker[i]);
    if (maker[i].first != 0) {
      EXPECT_EQ(v.size() >= 2 ? v[0] | v[1] << 8 : -1, maker[i].first);
    }
  }
  EXPECT_EQ(Make({{0x81, Le().u16(9)}}).Element(0x000F, 0), 9u) << "0x81 feeds 0x000F too";
  EXPECT_EQ(Make({{0x82, Le().u16(9)}}).Element(0x0090, 0), 9u) << "0x82 feeds 0x0090 too";

  const Built lole = Make(in, qdParseCreateLossLessPropBuffer);
  ASSERT_EQ(lole.payload.size(), ex.payload.size());
  EXPECT_EQ(Bytes(lole.payload.begin(), lole.payload.begin() + 6), Bytes({'L', 'o', 'L', 'e', 0, 0}));
  EXPECT_TRUE(std::equal(lole.payload.begin() + 6, lole.payload.end(), ex.payload.begin() + 6));

  const Built basic = Make(in, kBasic);  // without the two camera arrays
  EXPECT_EQ(Find(basic.t.maker, 0x0001), nullptr);
  EXPECT_EQ(Find(basic.t.maker, 0x0004), nullptr);
  EXPECT_EQ(basic.t.maker.size(), ex.t.maker.size() - 2);
}

// Records that are not pass-through, each alone, and where their value lands
// (the oracle tests read the exposure tags and the Exif 2.2 tags).
TEST_F(ExifBuffer, RecordsLandWhereTheirCodesSay) {
  enum Where { kIfd0, kExif, kMaker };
  const auto neg = [](int32_t v) { return static_cast<uint32_t>(v); };
  const auto comment = [](const std::string& code, const Bytes& text, size_t size) {
    Bytes b(size, 0);
    std::copy(code.begin(), code.end(), b.begin());
    std::copy(text.begin(), text.end(), b.begin() + 8);
    return b;
  };
  const struct {
    RecordList records;
    Where where;
    uint16_t tag, type;
    Nums numbers;  // SHORT, LONG, RATIONAL values, or else
    Bytes raw;     // the value's bytes
  } cases[] = {
      {{{0x03, Le().u32(1).u32(2).u32(3)}}, kMaker, 0x0005, 3, {1, 0, 2, 0, 3, 0}, {}},
      {{{0x04, Le().u32(0x00020001).u32(0x00040003)}}, kMaker, 0x0002, 3, {1, 2, 3, 4}, {}},
      {{{0x0E, Le().u32(77)}}, kMaker, 0x000C, 4, {77}, {}},
      {{{0x90, Le().u32(0x00070008)}}, kMaker, 0x0003, 3, {0, 0, 8, 7}, {}},
      {{{0x2F, Le().u32(neg(-3)).u32(1)}}, kExif, 0x9201, 10, {neg(-3), 1}, {}},
      {{{0x32, Le().u16(0x19)}, {0x32, Le().u16(0x18)}}, kExif, 0x9209, 3, {0x18}, {}},  // the later one wins
      {{{0x39, Le().u16(2)}}, kExif, 0xA001, 3, {2}, {}},
      {{{0x8B, Le().u32(45).u32(10)}}, kExif, 0xA500, 5, {45, 10}, {}},
      {{{0x88, Le().u32(1).u32(2).u32(3).u32(4)}}, kIfd0, 0x013E, 5, {1, 2, 3, 4}, {}},
      {{{0x07, Le().u32(270).u16(0)}}, kIfd0, 0x0112, 3, {8}, {}},
      {{{0x07, Le().u32(270).u16(1)}}, kIfd0, 0x0112, 3, {5}, {}},
      {{{0x07, Le().u32(180).u16(0)}, {0x07, Le().u32(45).u16(0)}}, kIfd0, 0x0112, 3, {3}, {}},  // 45: unchanged
      {{{0x80, Le().u32(4).text("Abc").u8(0)}}, kIfd0, 0x010F, 2, {}, Le().text("Abc").u8(0)},
      {{{0x10A, Le().u8(3).u8(0)}}, kExif, 0xA300, 7, {}, {3}},  // one byte less than its record
      // UserComment: max(n + 8 rounded up to even, 264) bytes, character code first.
      {{{0x01, Le().text("hello")}}, kExif, 0x9286, 7, {}, comment("", Le().text("hello"), 264)},
      {{{0x01, Pattern(257)}}, kExif, 0x9286, 7, {}, comment("", Pattern(257), 266)},
      {{{0x0B, Le().text(std::string("ASCII\0\0\0", 8)).u32(5).text("hello")}}, kExif, 0x9286, 7, {},
       comment("ASCII", Le().text("hello"), 264)},
      {{{0x0B, Le().text("UNICODE!").u32(2).text("ab")}}, kExif, 0x9286, 7, {}, comment("UNICODE!", {'a', 'b'}, 264)},
      {{{0x0B, Le().text("ASCII").u16(0).u8(0).u32(50).text("hello")}}, kExif, 0x9286, 7, {}, Bytes(264, 0)},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(testing::Message() << "case " << i << ": record 0x" << std::hex << cases[i].records[0].first);
    const Built b = Make(cases[i].records);
    const Entry* e = Find(cases[i].where == kIfd0 ? b.t.ifd0 : cases[i].where == kExif ? b.t.exif : b.t.maker,
                          cases[i].tag);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->type, cases[i].type);
    if (cases[i].raw.empty()) {
      EXPECT_EQ(b.r.Numbers(*e), cases[i].numbers);
    } else {
      EXPECT_EQ(b.r.Value(*e), cases[i].raw);
    }
  }
}

// Records that write camera-settings (CS) and shot-info (SI) elements.
TEST_F(ExifBuffer, RecordsFillTheCameraArrays) {
  using Pairs = std::vector<std::pair<size_t, uint32_t>>;
  const auto run16 = [](uint16_t element7) {  // record 0x0A reaching CS[16] = p[7]
    return Le().u16(16).u16(0).u16(0).u16(0).u16(0).u16(0).u16(0).u16(element7);
  };
  const struct {
    RecordList records;
    Pairs cs, si;
  } cases[] = {
      {{{0x02, Le().u16(11).u16(12)}, {0x1A, Le().u16(4).u16(5)}}, {{5, 11}, {6, 12}, {26, 4}, {27, 5}}, {}},
      {{{0x09, Le().u16(9)}, {0x0F, Le().u16(15)}, {0x12, Le().u16(18)}, {0x13, Le().u16(19)}, {0x15, Le().u16(21)},
        {0x19, Le().u16(25)}, {0x2B, Le().u16(43)}, {0x2C, Le().u16(44)}, {0x14, Le().u16(1).u16(2).u16(3)}},
       {{3, 9}, {4, 15}, {7, 18}, {20, 19}, {29, 21}, {18, 25}, {40, 43}, {42, 44}, {23, 1}, {24, 2}, {25, 3}}, {}},
      {{{0x06, Le().u16(11).u16(12)}, {0x10, Le().u16(14)}, {0x11, Le().u16(24)}, {0x17, Le().f32(-0.5f)},
        {0x16, Le().u16(5).f32(0.5f)}},
       {}, {{7, 11}, {8, 12}, {14, 14}, {24, 24}, {15, 0xFFF0}, {16, 5}, {17, 16}}},
      // Length-prefixed runs: an element only when the byte length (and the payload) reaches it.
      {{{0x0A, Le().u16(6).u16(1).u16(2).u16(3)}}, {{10, 1}, {11, 2}, {12, 0}}, {}},
      {{{0x0A, Le().u16(18).u16(1).u16(2).u16(3).u16(4).u16(5).u16(6).u16(18).u16(8)}},
       {{10, 1}, {15, 6}, {16, 18}, {17, 8}}, {{2, 192}}},
      {{{0x0A, Le().u16(0xFFFF).u16(1).u16(2)}}, {{10, 1}, {11, 2}, {12, 0}}, {}},
      {{{0x18, Le().u16(8).u16(1).u16(2).u16(3).u16(4)}}, {{32, 1}, {34, 3}, {35, 0}}, {}},
      // SI[2] from an ISO speed, or from a setting speed while it is still 0.
      {{{0x0C, Le().u16(64)}}, {}, {{2, 139}}},
      {{{0x0C, Le().u16(12500)}}, {}, {{2, 384}}},
      {{{0x0C, Le().u16(100)}, {0x0A, run16(18)}}, {}, {{2, 160}}},
      {{{0x0C, Le().u16(3)}, {0x0A, run16(18)}}, {}, {{2, 192}}},
      {{{0x0A, run16(0x4000 | 64)}}, {}, {{2, 139}}},
      {{{0x0A, run16(0x4000 | 6400)}}, {}, {{2, 352}}},
      {{{0x0A, run16(0x4000 | 30)}}, {}, {{2, 0}}},
      {{{0x0A, run16(25)}}, {}, {{2, 0}}},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    const Built b = Make(cases[i].records);
    for (const auto& [at, value] : cases[i].cs) EXPECT_EQ(b.CS(at), value) << "CS[" << at << "]";
    for (const auto& [at, value] : cases[i].si) EXPECT_EQ(b.SI(at), value) << "SI[" << at << "]";
  }
  EXPECT_EQ(Find(Make({{0x0A, Le().u16(2).u16(1)}}).t.maker, 0x0001), nullptr) << "a run too short for CS[10]";
}

// Rounding is half away from zero, except for ApertureValue and SI[13],
// which add 0.5 and truncate.
TEST_F(ExifBuffer, ShotValuesAndTheirRounding) {
  using Pairs = std::vector<std::pair<size_t, uint32_t>>;
  const auto neg = [](int32_t v) { return static_cast<uint32_t>(v); };
  const struct {
    ExifShotValues shot;
    Nums shutter, aperture, bias;
    Pairs si, cs;
  } cases[] = {
      {{5.0f, 8.0f, 0.25f, 0.0f, 250, 1}, {524288, 65536}, {327680, 65536}, {2, 6},
       {{4, 160}, {5, 256}, {6, 8}, {13, 0}}, {{1, 1}, {2, 2}}},
      {{-0.5f, -0.3f, -0.25f, -0.5f, 99, 0}, {neg(-19661), 65536}, {neg(-32767), 65536}, {neg(-2), 6},
       {{4, 0xFFF0}, {5, 0xFFF6}, {6, 0xFFF8}, {13, 0xFFF1}}, {{1, 2}, {2, 0}}},
      {{-1.0f, 100.0f, 100.0f, -1.0f, 0xFFFF, 7}, {}, {}, {}, {}, {{1, 0}, {2, 0}}},  // only the flag given
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    const Built b = Make({}, nullptr, kEx, &cases[i].shot);
    EXPECT_EQ(b.Numbers(b.t.exif, 0x9201), cases[i].shutter);
    EXPECT_EQ(b.Numbers(b.t.exif, 0x9202), cases[i].aperture);
    EXPECT_EQ(b.Numbers(b.t.exif, 0x9204), cases[i].bias);
    for (const auto& [at, value] : cases[i].si) EXPECT_EQ(b.SI(at), value) << "SI[" << at << "]";
    for (const auto& [at, value] : cases[i].cs) EXPECT_EQ(b.CS(at), value) << "CS[" << at << "]";
    EXPECT_EQ(Find(b.t.maker, 0x0004) != nullptr, !cases[i].si.empty());
  }
  // Record 0x16 moves an exposure bias that is there by its EV in sixths.
  ExifShotValues plusOne = NoShotValues();
  plusOne.exposureCompensation = 1.0f;
  const RecordList adjust = {{0x16, Le().u16(5).f32(0.5f)}};
  const Built adjusted = Make(adjust, nullptr, kEx, &plusOne);
  EXPECT_EQ(adjusted.Numbers(adjusted.t.exif, 0x9204), (Nums{9, 6}));
  EXPECT_EQ(Find(Make(adjust).t.exif, 0x9204), nullptr);
  EXPECT_EQ(Make({{0x31, Le().u32(0x7FFFFFFF).u32(1)}, {0x16, Le().u16(0).f32(1.0f)}}).result, QD_OK);
}

TEST_F(ExifBuffer, ExifVersionAndInteroperabilityByFormAndShape) {
  const struct {
    ExifExport entry;
    uint16_t width, height;
    const char* record;
    const char* version;
    bool interop;
  } cases[] = {
      {kBasic, 640, 480, "0210", "0210", true}, {kBasic, 480, 640, "0210", "0200", false},
      {kBasic, 640, 640, "0200", "0200", false}, {kBasic, 40000, 480, "0210", "0200", false},  // signed 16-bit
      {kEx, 480, 640, "0210", "0210", true},    {kEx, 480, 640, "0200", "0210", true},
      {kBasic, 640, 480, nullptr, "0220", true}, {kEx, 640, 480, "0221", "0220", true},
      {kEx, 640, 480, "02", "0220", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.entry == kBasic ? "basic " : "ex ") << c.width << "x" << c.height << " "
                                    << (c.record != nullptr ? c.record : "-"));
    const ExifImageInfo image = Image("Vedra Q10", c.width, c.height);
    const Built b = Make(c.record ? RecordList{{0x33, Le().text(c.record)}} : RecordList{}, &image, c.entry);
    EXPECT_EQ(b.Text(b.t.exif, 0x9000), c.version);
    EXPECT_EQ(Find(b.t.exif, 0xA005) != nullptr, c.interop);
    EXPECT_EQ(b.Numbers(b.t.exif, 0xA002), Nums{c.width});
    if (c.interop) {
      EXPECT_EQ(b.Numbers(b.t.interop, 0x1002), Nums{c.height});
    }
  }
}

TEST_F(ExifBuffer, ColourModeRecordPicksColourSpaceAndIndex) {
  const struct {
    const char* model;
    uint16_t mode;
    RecordList before;
    const char* version;
    uint32_t colorSpace;
    const char* index;  // "-": no interoperability IFD
    bool chroma;
  } cases[] = {
      {"Vedra Q10", 2, {}, "0221", 0xFFFF, "R03", true},
      {"Vedra Q10", 2, {{0x39, Le().u16(1)}}, "0221", 0xFFFF, "R03", true},
      {"Vedra Q10", 1, {{0x88, Le().u32(1).u32(2).u32(3).u32(4)}}, "0221", 1, "R98", false},
      {"Vedra Q10", 3, {}, "0221", 1, "R98", false},
      {"Vedra ARX 7", 2, {}, "0220", 0xFFFF, "-", false},
      {"Vedra ARX 7", 2, {{0x39, Le().u16(1)}}, "0220", 1, "R98", false},
      {"Vedra ARX 7", 1, {}, "0220", 1, "R98", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.model << " mode " << c.mode << " " << c.before.size());
    RecordList records = c.before;
    records.push_back({0x85, Le().u16(c.mode)});
    const ExifImageInfo image = Image(c.model, 640, 480);
    const Built b = Make(records, &image);
    EXPECT_EQ(b.Text(b.t.exif, 0x9000), c.version);
    EXPECT_EQ(b.Numbers(b.t.exif, 0xA001), Nums{c.colorSpace});
    EXPECT_EQ(b.Text(b.t.interop, 0x0001), c.index);
    EXPECT_EQ(b.Numbers(b.t.ifd0, 0x013E), c.chroma ? Nums({313, 1000, 329, 1000}) : Nums{});
    EXPECT_EQ(b.Numbers(b.t.ifd0, 0x013F), c.chroma ? Nums({64, 100, 33, 100, 21, 100, 71, 100, 15, 100, 6, 100}) : Nums{});
    EXPECT_EQ(b.Numbers(b.t.ifd0, 0x0211), c.chroma ? Nums({299, 1000, 587, 1000, 114, 1000}) : Nums{});
    EXPECT_EQ(b.Numbers(b.t.exif, 0xA500), c.chroma ? Nums({22, 10}) : Nums{});
  }
}

// Maker-note tag 0x0002 {_, focal length, plane width, plane height} gives
// FocalLength and the focal-plane tags unless record 0x08 gave them.
TEST_F(ExifBuffer, FocalValuesDerivedFromTheLensRecord) {
  const std::pair<uint16_t, Bytes> lens = {0x04, Le().u32(100u << 16).u32(240u << 16 | 320)};
  const auto plane = [](int16_t size, uint32_t divisor) { return Nums{static_cast<uint32_t>(size * 1024), divisor}; };
  const struct {
    RecordList records;
    uint16_t width;
    Nums tag0002, focalLength, planeX, planeY, unit;
  } cases[] = {
      {{lens}, 640, {0, 100, 320, 240}, {100, 32}, plane(640, 320), plane(480, 240), {2}},
      {{lens, {0x14, Le().u16(0).u16(0).u16(16)}}, 640, {0, 50, 320, 240}, {50, 16}, plane(640, 320), plane(480, 240), {2}},
      {{lens, {0x08, Le().u32(35).u32(1).u32(3).u32(1).u32(4).u32(1).u16(3)}}, 640, {0, 100, 320, 240}, {35, 1}, {3, 1},
       {4, 1}, {3}},
      {{lens}, 40000, {0, 100, 320, 240}, {100, 32}, plane(-25536, 320), plane(480, 240), {2}},  // signed 16-bit
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    const ExifImageInfo image = Image("Vedra Q10", cases[i].width, 480);
    const Built b = Make(cases[i].records, &image);
    EXPECT_EQ(b.Numbers(b.t.maker, 0x0002), cases[i].tag0002);
    EXPECT_EQ(b.Numbers(b.t.exif, 0x920A), cases[i].focalLength);
    EXPECT_EQ(b.Numbers(b.t.exif, 0xA20E), cases[i].planeX);
    EXPECT_EQ(b.Numbers(b.t.exif, 0xA20F), cases[i].planeY);
    EXPECT_EQ(b.Numbers(b.t.exif, 0xA210), cases[i].unit);
  }
}

// The oracle tests extract a thumbnail; here its resolution comes from IFD0
// and an empty or large one still gets IFD1 on an even offset.
TEST_F(ExifBuffer, ThumbnailInIfd1WithIfd0Resolution) {
  for (size_t size : {size_t{0}, size_t{60 * 1024}}) {
    SCOPED_TRACE(size);
    ExifImageInfo image = Image("Vedra Q10", 640, 480);
    image.yResolution = 72;
    const Bytes thumbnail = Pattern(size);
    const Built b = Make({{0x05, thumbnail}}, &image);
    EXPECT_EQ(b.t.ifd1At % 2, 0u);
    EXPECT_EQ(b.Numbers(b.t.ifd1, 0x011B), (Nums{72, 1}));
    const Nums at = b.Numbers(b.t.ifd1, 0x0201);
    ASSERT_EQ(at.size(), 1u);
    EXPECT_EQ(b.Numbers(b.t.ifd1, 0x0202), Nums{static_cast<uint32_t>(size)});
    ASSERT_LE(at[0] + size, b.r.bytes().size());
    EXPECT_EQ(Bytes(b.r.bytes().begin() + at[0], b.r.bytes().begin() + at[0] + size), thumbnail);
  }
}

// The footer names where the maker note was written ("II", 42, the offset
// in little-endian order), so the query tests' relocation finds its values
// once it has moved.
TEST_F(ExifBuffer, MakerNoteEndsInARelocationFooter) {
  RichInput in(Pattern(10), false);
  const Built ex = Make(in, kEx);
  const uint32_t at = ex.t.makerAt, size = ex.t.makerSize;
  ASSERT_GT(size, 8u);
  EXPECT_EQ(Bytes(ex.r.bytes().begin() + at + size - 8, ex.r.bytes().begin() + at + size),
            Bytes({'I', 'I', 0x2A, 0, static_cast<uint8_t>(at), static_cast<uint8_t>(at >> 8), 0, 0}));
  EXPECT_EQ(ex.Numbers(ex.t.maker, 0x0019), Nums{1}) << "the relocation tag";
}

TEST_F(ExifBuffer, MakerNoteAloneInEitherByteOrder) {
  for (uint8_t order : {0, 1}) {
    SCOPED_TRACE(int{order});
    RichInput in(Pattern(10), false);
    MakerNoteBuffer note{};
    note.byteOrder = order;
    ASSERT_EQ(qdParseCreateMakerNote(&in.image, &in.capture, &in.shot, in.records.list(), &note), QD_OK);
    ExifBlock block;
    const qd::exif::BufferMode mode{false, false, order != 0, false};
    const Built whole = Collect(qd::ToResultCode(qd::exif::BuildExifBuffer(&in.image, &in.capture, &in.shot,
                                                                           in.records.list(), mode, &block.info)),
                                block);
    EXPECT_EQ(whole.r.big(), order != 0);
    EXPECT_EQ((Nums{note.byteOrder, note.offset, note.size}), (Nums{order, whole.t.makerAt, whole.t.makerSize}));
    const uint8_t* data = note.data;
    const Bytes bytes(data, data + uint32_t{note.size});
    EXPECT_EQ(bytes, Bytes(whole.r.bytes().begin() + whole.t.makerAt,
                           whole.r.bytes().begin() + whole.t.makerAt + whole.t.makerSize));
    EXPECT_EQ(order != 0 ? bytes[0] << 8 | bytes[1] : bytes[1] << 8 | bytes[0], int(whole.t.maker.size()));
    EXPECT_EQ(Make(in, kEx).t.makerSize, uint32_t{note.size} + 8) << "no footer";
    EXPECT_EQ(qdParseFreeMakerNoteBuffer(&note), QD_OK);
  }

  const struct {
    Bytes make;
    uint32_t result;
  } makers[] = {{Le().u32(5).text("vedra"), QD_OK},
                {Le().u32(6).text("VeDrA").u8(0), QD_OK},
                {Le().u32(11).text("Vedra Corp").u8(0), QD_E_OTHER_MAKER},
                {Le().u32(60).text(std::string(60, 'V')), QD_E_OTHER_MAKER}};
  for (const auto& m : makers) {
    SCOPED_TRACE(m.make.size());
    Records records({{0x80, m.make}});
    MakerNoteBuffer note{};
    EXPECT_EQ(qdParseCreateMakerNote(nullptr, nullptr, nullptr, records.list(), &note), m.result);
    EXPECT_EQ(note.data == nullptr, m.result != QD_OK);
    EXPECT_EQ(qdParseFreeMakerNoteBuffer(&note), QD_OK);
  }
  EXPECT_EQ(qdParseCreateMakerNote(nullptr, nullptr, nullptr, nullptr, nullptr), QD_E_INVALID_ARG);
  EXPECT_EQ(qdParseCreateExifPropBufferEx(nullptr, nullptr, nullptr, nullptr, nullptr), QD_E_INVALID_ARG);
}

// Every code with payloads too short for it, each in a block of exactly its
// size: nothing reads past a record, and every build is well formed.
TEST_F(ExifBuffer, EveryCodeWithShortOrEmptyPayloads) {
  std::vector<uint16_t> codes = {0xFFFF};
  for (uint16_t code = 0; code <= 0x120; ++code) codes.push_back(code);
  for (uint16_t code : codes) {
    for (size_t size : {0, 1, 2, 3, 5, 7, 11, 13, 25}) {
      SCOPED_TRACE(testing::Message() << "record 0x" << std::hex << code << " of " << std::dec << size);
      const Built b = Make({{code, Pattern(size)}});
      ASSERT_EQ(b.result, QD_OK);
      ASSERT_FALSE(b.t.maker.empty());
    }
  }
}

TEST_F(ExifBuffer, OversizedRecordsUnknownCodesAndLongNames) {
  const Built big = Make({{0x0C, Le().u16(200).text(std::string(4000, 'x'))},
                          {0x33, Le().text("0210 and more")},
                          {0x80, Le().u32(6).text(std::string("Vedra\0 and the rest", 19))},
                          {0x80, Le().u32(1000).text("Other")},  // n past the payload: passed over
                          {0x0B, Le().text("ASCII").u16(0).u8(0).u32(0xFFFFFFFF).text("x")}});
  EXPECT_EQ(big.Numbers(big.t.exif, 0x8827), Nums{200});
  EXPECT_EQ(big.Text(big.t.exif, 0x9000), "0210");
  EXPECT_EQ(big.Raw(big.t.ifd0, 0x010F), Bytes({'V', 'e', 'd', 'r', 'a', 0}));
  EXPECT_EQ(big.Raw(big.t.exif, 0x9286), Bytes(264, 0));
  EXPECT_EQ(Find(Make({{0x80, Le().u32(60).text(std::string(60, 'K'))}}).t.ifd0, 0x010F)->count, 60u);

  RichInput plain(Pattern(40), true), noisy(Pattern(40), true);
  for (uint16_t code : {0x00, 0x3D, 0x7F, 0x8C, 0x8F, 0x109, 0x110, 0x112, 0x200, 0xFFFF}) {
    noisy.records.Add(code, Pattern(16));
  }
  EXPECT_EQ(Make(plain, kEx).payload, Make(noisy, kEx).payload) << "unknown and out-of-range codes are skipped";

  // Names that fill their 32-byte fields are cut to 31 characters.
  for (size_t length : {31, 32}) {
    SCOPED_TRACE(length);
    auto image = std::make_unique<ExifImageInfo>(Image(std::string(length, 'M'), 640, 480));
    auto capture = std::make_unique<ExifCaptureInfo>();
    std::memset(capture->owner, 'O', length);
    std::memset(capture->imageType, 'T', length);
    const Built n = Make({}, image.get(), kEx, nullptr, capture.get());
    EXPECT_EQ(n.Raw(n.t.ifd0, 0x0110), Bytes(Le().text(std::string(31, 'M')).u8(0)));
    EXPECT_EQ(n.Text(n.t.maker, 0x0009), std::string(31, 'O'));
    EXPECT_EQ(n.Text(n.t.maker, 0x0006), std::string(31, 'T'));
  }
}

}  // namespace
}  // namespace qdtest
