// Exif property buffers and maker notes, read back with TiffReader.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "exifwrite/camera_models.h"
#include "exifwrite/exif_support.h"
#include "support/heap_builder.h"

namespace qdtest {
namespace {

using Nums = std::vector<uint32_t>;
const ExifExport kBasic = qdParseCreateExifPropBuffer, kEx = qdParseCreateExifPropBufferEx;
enum Where { kIfd0, kExif, kMaker, kInterop, kIfd1 };

// A build and its IFDs, copied out of the block, which is released at once.
struct Built {
  Bytes payload;
  TiffReader r;
  Ifd ifds[5];
  uint32_t makerAt = 0, makerSize = 0;

  Built(uint32_t result, const ExifBlock& b) : payload(b.payload()), r(b.tiff()) {
    EXPECT_EQ(result, QD_OK);
    uint32_t next = 0;
    ifds[kIfd0] = r.Ifd(r.U32(4), &next);
    if (next != 0) ifds[kIfd1] = r.Ifd(next);
    if (const Entry* e = Find(kIfd0, 0x8769)) ifds[kExif] = r.Ifd(e->field);
    if (const Entry* e = Find(kExif, 0xA005)) ifds[kInterop] = r.Ifd(e->field);
    if (const Entry* e = Find(kExif, 0x927C)) {
      makerAt = e->field;
      makerSize = e->count;
      ifds[kMaker] = r.Ifd(makerAt);
    }
  }
  const Entry* Find(Where w, uint16_t tag) const {
    for (const Entry& e : ifds[w]) {
      if (e.tag == tag) return &e;
    }
    return nullptr;
  }
  Nums Numbers(Where w, uint16_t t) const { return Find(w, t) ? r.Numbers(*Find(w, t)) : Nums{}; }
  std::string Text(Where w, uint16_t t) const { return Find(w, t) ? r.Text(*Find(w, t)) : "-"; }
  Bytes Raw(Where w, uint16_t t) const { return Find(w, t) ? r.Value(*Find(w, t)) : Bytes{}; }
};

Built Make(const RecordList& list = {}, const ExifImageInfo* image = nullptr,
           ExifExport entry = kEx, const ExifShotValues* shot = nullptr,
           const ExifCaptureInfo* capture = nullptr) {
  Records records(list);
  ExifBlock b;
  const uint32_t result = entry(image, capture, shot, records.list(), &b.info);
  return Built(result, b);
}

Built Make(RichInput& in, ExifExport entry) {
  ExifBlock b;
  const uint32_t result = in.Call(entry, &b.info);
  return Built(result, b);
}

// The forms: the basic one without the camera arrays and firmware text, the
// lossless twin signed differently; an image record marked invalid is none.
TEST(ExifWriter, FormsOfTheBufferAndTheMakerNoteAlone) {
  const Built none = Make(), bare = Make({}, nullptr, kBasic);
  EXPECT_EQ(none.Text(kMaker, 0x0007), "Firmware Version 00.00");
  EXPECT_EQ(bare.Raw(kMaker, 0x0007), Bytes(32, 0));
  ExifImageInfo invalid = Image("Vedra Q10", 640, 480);
  invalid.valid = 0;
  EXPECT_EQ(Make({}, &invalid).payload, none.payload);

  RichInput in(Bytes(100, 0x5A), true);
  const Built ex = Make(in, kEx), lole = Make(in, qdParseCreateLossLessPropBuffer);
  ASSERT_EQ(lole.payload.size(), ex.payload.size());
  EXPECT_EQ(Bytes(lole.payload.begin(), lole.payload.begin() + 6), Bytes(Le().text("LoLe").u16(0)));
  EXPECT_TRUE(std::equal(lole.payload.begin() + 6, lole.payload.end(), ex.payload.begin() + 6));
  EXPECT_EQ(Make(in, kBasic).ifds[kMaker].size(), ex.ifds[kMaker].size() - 2)
      << "no camera settings, no shot info";
  const auto thumbnail = ex.r.bytes().begin() + ex.Numbers(kIfd1, 0x0201).at(0);
  EXPECT_EQ(Bytes(thumbnail, thumbnail + 100), Bytes(100, 0x5A));
  // The footer names where the maker note was written ("II", 42, offset), so
  // that a reader can relocate it once it has moved.
  const auto end = ex.r.bytes().begin() + ex.makerAt + ex.makerSize;
  EXPECT_EQ(Bytes(end - 8, end), Bytes(Le().text("II").u16(42).u32(ex.makerAt)));

  // The maker note alone: where the block has it, without the footer, in the
  // byte order asked for.
  for (uint8_t order : {0, 1}) {
    MakerNoteBuffer note{};
    note.byteOrder = order;
    ASSERT_EQ(qdParseCreateMakerNote(&in.image, &in.capture, &in.shot, in.records.list(), &note),
              QD_OK);
    EXPECT_EQ((Nums{note.byteOrder, note.offset, note.size, GetU16(note.data, order != 0)}),
              (Nums{order, ex.makerAt, ex.makerSize - 8, uint32_t(ex.ifds[kMaker].size())}));
    const auto from = ex.r.bytes().begin() + ex.makerAt;
    const Bytes alone(note.data, note.data + note.size);
    if (order == 0) EXPECT_EQ(alone, Bytes(from, from + note.size));
    EXPECT_EQ(qdParseFreeMakerNoteBuffer(&note), QD_OK);
    EXPECT_TRUE(AllZero(note));
  }
  for (const auto& [make, result] : {std::pair{"VeDrA", QD_OK}, {"Vedra Corp", QD_E_OTHER_MAKER}}) {
    Records records({{0x80, Le().u32(uint32_t(strlen(make) + 1)).text(make).u8(0)}});
    MakerNoteBuffer note{};
    EXPECT_EQ(qdParseCreateMakerNote(nullptr, nullptr, nullptr, records.list(), &note), result);
    EXPECT_EQ(qdParseFreeMakerNoteBuffer(&note), QD_OK);
  }
}

// Records that are not passed through, alone or with another, and where their value lands.
TEST(ExifWriter, RecordsLandWhereTheirCodesSay) {
  const std::string longText(257, 'c');
  const struct {
    RecordList records;
    Where where;
    uint16_t tag;
    Nums numbers;  // SHORT, LONG, RATIONAL values, or else
    Bytes raw;     // the value's bytes
  } cases[] = {
      {{{0x03, Le().u32(1).u32(2).u32(3)}}, kMaker, 0x0005, {1, 0, 2, 0, 3, 0}, {}},
      {{{0x90, Le().u32(0x00070008)}}, kMaker, 0x0003, {0, 0, 8, 7}, {}},
      {{{0x2F, Le().u32(uint32_t(-3)).u32(1)}}, kExif, 0x9201, {uint32_t(-3), 1}, {}},
      {{{0x32, Le().u16(0x19)}, {0x32, Le().u16(0x18)}}, kExif, 0x9209, {0x18}, {}},
      {{{0x07, Le().u32(270).u16(0)}}, kIfd0, 0x0112, {8}, {}},
      {{{0x07, Le().u32(270).u16(1)}}, kIfd0, 0x0112, {5}, {}},
      {{{0x07, Le().u32(90).u16(1)}}, kIfd0, 0x0112, {7}, {}},
      {{{0x07, Le().u32(180).u16(0)}, {0x07, Le().u32(45).u16(0)}}, kIfd0, 0x0112, {3}, {}},
      {{{0x0C, Le().u16(200).text(std::string(4000, 'x'))}}, kExif, 0x8827, {200}, {}},
      // The focal length from the lens record {_, focal, plane width, plane height}.
      {{{0x04, Le().u32(100u << 16).u32(240u << 16 | 320)}}, kExif, 0x920A, {100, 32}, {}},
      {{{0x10A, Le().u8(3).u8(0)}}, kExif, 0xA300, {}, {3}},  // one byte less than its record
      {{{0x33, Le().text("0210 and more")}}, kExif, 0x9000, {}, Le().text("0210")},
      {{{0x80, Le().u32(6).text(std::string("Vedra\0 and the rest", 19))},
        {0x80, Le().u32(1000).text("Other")}},  // a length past the payload: passed over
       kIfd0, 0x010F, {}, Le().text("Vedra").u8(0)},
      // UserComment: n + 8 bytes rounded up to even, at least 264, character code first.
      {{}, kExif, 0x9286, {}, Bytes(264, 0)},
      {{{0x0B, Le().text("UNICODE!").u32(257).text(longText)}}, kExif, 0x9286, {},
       Le().text("UNICODE!").text(longText).u8(0)},
      {{{0x0B, Le().text("ASCII").u16(0).u8(0).u32(50).text("hello")}}, kExif, 0x9286, {},
       Bytes(264, 0)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << &c - cases);
    const Built b = Make(c.records);
    EXPECT_EQ(c.raw.empty() ? b.Numbers(c.where, c.tag) : Nums{}, c.numbers);
    EXPECT_EQ(c.raw.empty() ? Bytes{} : b.Raw(c.where, c.tag), c.raw);
  }
}

// Records and shot values that write elements of the camera settings (tag 1)
// and shot info (tag 4) in the maker note.
TEST(ExifWriter, CameraArraysFromRecordsAndShotValues) {
  using Elements = std::vector<std::pair<size_t, uint32_t>>;
  const auto run16 = [](uint16_t element7) {  // record 0x0A reaching settings[16] = element7
    return Le().u16(16).u16(0).u16(0).u16(0).u16(0).u16(0).u16(0).u16(element7);
  };
  const ExifShotValues none = NoShotValues(), flagOnly{-1.0f, 100.0f, 100.0f, -1.0f, 0xFFFF, 7};
  const ExifShotValues positive{5.0f, 8.0f, 0.25f, 0.0f, 250, 1};
  const ExifShotValues negative{-0.5f, -0.3f, -0.25f, -0.5f, 99, 0};
  const struct {
    RecordList records;
    const ExifShotValues* shot;
    Elements settings, shotInfo;
  } cases[] = {
      // Length-prefixed runs: an element only when the byte length reaches it.
      {{{0x0A, Le().u16(6).u16(1).u16(2).u16(3)}}, &none, {{10, 1}, {11, 2}, {12, 0}}, {}},
      {{{0x0A, Le().u16(0xFFFF).u16(1).u16(2)}}, &none, {{10, 1}, {11, 2}, {12, 0}}, {}},
      // The speed code from an ISO speed, or from a setting speed while it is still 0.
      {{{0x0C, Le().u16(12500)}}, &none, {}, {{2, 384}}},
      {{{0x0C, Le().u16(100)}, {0x0A, run16(18)}}, &none, {}, {{2, 160}}},
      {{{0x0C, Le().u16(3)}, {0x0A, run16(18)}}, &none, {}, {{2, 192}}},
      {{{0x0A, run16(0x4000 | 6400)}}, &none, {}, {{2, 352}}},
      {{{0x0A, run16(0x4000 | 25)}}, &none, {}, {{2, 0}}},
      {{{0x0A, run16(25)}}, &none, {}, {{2, 0}}},
      // Half away from zero, but shot-info 13 adds 0.5 and truncates.
      {{}, &positive, {{1, 1}, {2, 2}}, {{4, 160}, {5, 256}, {6, 8}, {13, 0}}},
      {{}, &negative, {{1, 2}, {2, 0}}, {{4, 0xFFF0}, {5, 0xFFF6}, {6, 0xFFF8}, {13, 0xFFF1}}},
      {{}, &flagOnly, {{1, 0}, {2, 0}}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << &c - cases);
    const Built b = Make(c.records, nullptr, kEx, c.shot);
    const Nums settings = b.Numbers(kMaker, 0x0001), shotInfo = b.Numbers(kMaker, 0x0004);
    for (const auto& [i, v] : c.settings) EXPECT_EQ(settings.at(i), v) << "settings " << i;
    for (const auto& [i, v] : c.shotInfo) EXPECT_EQ(shotInfo.at(i), v) << "shot info " << i;
  }
  EXPECT_EQ(Make({{0x0A, Le().u16(2).u16(1)}}).Find(kMaker, 0x0001), nullptr);
}

// The version record, the image's shape, the form and the colour-mode
// record decide ExifVersion and the interoperability index, if any.
TEST(ExifWriter, ExifVersionAndInteroperability) {
  const auto version = [](const char* v) { return RecordList{{0x33, Le().text(v)}}; };
  const RecordList mode2 = {{0x85, Le().u16(2)}}, mode2Srgb = {{0x39, Le().u16(1)}, mode2[0]};
  const struct {
    ExifExport entry;
    const char* model;
    uint16_t width, height;
    RecordList records;
    const char *version, *index;  // "-": no interoperability IFD
  } cases[] = {
      {kBasic, "Vedra Q10", 640, 480, version("0210"), "0210", "R98"},
      {kBasic, "Vedra Q10", 480, 640, version("0210"), "0200", "-"},
      {kBasic, "Vedra Q10", 640, 640, version("0200"), "0200", "-"},
      {kBasic, "Vedra Q10", 40000, 480, version("0210"), "0200", "-"},  // a signed width
      {kEx, "Vedra Q10", 480, 640, version("0200"), "0210", "R98"},
      {kBasic, "Vedra Q10", 640, 480, {}, "0220", "R98"},
      {kEx, "Vedra Q10", 640, 480, version("0221"), "0220", "R98"},
      {kEx, "Vedra Q10", 640, 480, mode2Srgb, "0221", "R03"},
      {kEx, "Vedra ARX 7", 640, 480, mode2, "0220", "-"},
      {kEx, "Vedra ARX 7", 640, 480, mode2Srgb, "0220", "R98"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << &c - cases);
    const ExifImageInfo image = Image(c.model, c.width, c.height);
    const Built b = Make(c.records, &image, c.entry);
    EXPECT_EQ(b.Text(kExif, 0x9000), c.version);
    EXPECT_EQ(b.Text(kInterop, 0x0001), c.index);
  }
}

// Every code with payloads too short for it, each in a block of exactly its
// size; unknown codes; names that fill their fields. Model rules no writer
// output shows: the B7 by its exact name, and records of the default rule on
// every model but the ARX K24 family.
TEST(ExifWriter, HostileRecordsLongNamesAndModelRules) {
  for (uint16_t code = 0; code <= 0x120; ++code) {
    for (size_t size : {0, 1, 2, 3, 5, 7, 11, 13, 25}) {
      SCOPED_TRACE(testing::Message() << "record 0x" << std::hex << code << " of " << size);
      ASSERT_FALSE(Make({{code, Bytes(size, 0x5A)}}).ifds[kMaker].empty());
    }
  }
  RichInput plain(Bytes(40, 0x5A), true), noisy(Bytes(40, 0x5A), true);
  for (uint16_t code : {0x00, 0x3D, 0x7F, 0x8C, 0x8F, 0x109, 0x110, 0x112, 0x200, 0xFFFF}) {
    noisy.records.Add(code, Bytes(16, 0x5A));
  }
  EXPECT_EQ(Make(plain, kEx).payload, Make(noisy, kEx).payload) << "unknown codes are skipped";

  ExifImageInfo image = Image(std::string(32, 'M'), 640, 480);
  ExifCaptureInfo capture{};
  std::memset(capture.owner, 'O', 32);
  const Built n = Make({}, &image, kEx, nullptr, &capture);
  EXPECT_EQ(n.Raw(kIfd0, 0x0110), Bytes(Le().text(std::string(31, 'M')).u8(0)));
  EXPECT_EQ(n.Text(kMaker, 0x0009), std::string(31, 'O'));

  EXPECT_FALSE(qd::camera::IsLumaframeB7("Vedra Lumaframe B70"));
  EXPECT_FALSE(qd::camera::HasRecord("Vedra ARX K24", 30));
  EXPECT_TRUE(qd::camera::HasRecord("Vedra ARX K48", 30));
  EXPECT_FALSE(qd::camera::HasRecord("Vedra Lumaframe T270", 14));  // "...T27" is a prefix
  EXPECT_TRUE(qd::camera::HasRecord("Vedra Lumaframe X27", 14));     // ends as "...T27" does
}

}  // namespace
}  // namespace qdtest
