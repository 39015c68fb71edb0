// The conformance check over a camera file and one edit of it per rule, and
// the optional-data trailer at a stream's end.
#include <gtest/gtest.h>

#include "qdparse.h"
#include "support/camera_jpeg.h"
#include "support/test_stream.h"

namespace qdtest {
namespace {

constexpr uint16_t kUnset = 0xA5A5;
constexpr uint32_t kTag = QD_CHECK_TAG_OR_PORTRAIT, kBad = QD_E_UNSUPPORTED;

Bytes With(const std::function<void(CameraShape&)>& edit) { CameraShape s; edit(s); return CameraJpeg(s); }
Bytes Extra(const std::function<void(CameraIfds&)>& extra, std::set<uint16_t> omit = {}) {
  return With([&](CameraShape& s) { s.extra = extra, s.omit = std::move(omit); });
}
Bytes Adobe(uint16_t colorSpace, std::set<uint16_t> omit = {}, std::function<void(CameraIfds&)> extra = {}) {
  return With([&](CameraShape& s) { s.interopIndex = "R03", s.colorSpace = colorSpace, s.adobeRgbTags = true,
                                    s.omit = std::move(omit), s.extra = extra; });
}
// ExifVersion fails; the maker note of our cameras in the Adobe RGB mode excuses it.
Bytes Exempt(uint16_t colourMode) {
  TiffBuilder note(Order::II);
  note.NewIfd().Long(0x0010, {0x01A50000}).Short(0x00B4, {colourMode});
  return With([&](CameraShape& s) {
    s.make = "VEDRA", s.exifVersion = "0230", s.makerNote = note.MakerNote(0, false);
    s.extra = [](CameraIfds& f) { f.ifd0.Short(0x0100, {64}); };  // the image-tag test is skipped too
  });
}
Bytes Before(const Bytes& f, uint8_t marker, const Bytes& piece) { return Insert(f, SegmentOffset(f, marker), {piece}); }
Bytes Thumbnail(const Bytes& jpeg) { return With([&](CameraShape& s) { s.thumbnail = jpeg; }); }

TEST(JpegCheck, EachRuleOnAnEditOfACameraFile) {
  // The APP1 segment lies between SOI and DQT.
  const Bytes camera = CameraJpeg(), app1(camera.begin() + 2, camera.begin() + SegmentOffset(camera, 0xDB));
  const Bytes image = CameraImage(64, 48, 0x21);
  // tag kUnset: not written.
  const struct { const char* name; Bytes file; uint32_t result; uint16_t tag, portrait; } rows[] = {
      {"camera file", camera, QD_OK, kUnset, 0},
      {"big-endian", With([](CameraShape& s) { s.order = Order::MM; }), QD_OK, kUnset, 0},
      {"portrait", With([](CameraShape& s) { s.portrait = true; }), kTag, kUnset, 1},
      {"portrait image, landscape thumbnail", AfterSoi(CameraImage(64, 48, 0x12), {app1}), kBad, kUnset, 0},
      {"JFIF APP0 added", AfterSoi(camera, {JfifApp0()}), kBad, kUnset, 0},
      {"APP1 moved behind DQT", Before(image, marker::kDHT, app1), kBad, kUnset, 0},
      {"two DQT", Before(camera, 0xDB, Segment(0xDB, Bytes(65, 1))), kBad, kUnset, 0},
      {"APP2 before the tables", Before(camera, 0xDB, IccApp2(1, 1, {1})), QD_OK, kUnset, 0},
      {"APP2 after DQT", Before(camera, marker::kDHT, IccApp2(1, 1, {1})), kBad, kUnset, 0},
      {"progressive", AfterSoi(EncodeJpeg({64, 48, 3, 0x21, true, false}), {app1}), kBad, kUnset, 0},
      {"sampled 2x2", AfterSoi(CameraImage(64, 48, 0x22), {app1}), QD_OK, kUnset, 0},
      {"no EOI", Bytes(camera.begin(), camera.end() - 2), kBad, kUnset, 0},
      {"YCbCrPositioning retyped", Extra([](CameraIfds& f) { f.ifd0.Long(0x0213, {2}); }, {0x0213}), kTag, 0x0213, 0},
      {"ExifVersion 0230", With([](CameraShape& s) { s.exifVersion = "0230"; }), kTag, 0x9000, 0},
      {"no IFD1", With([](CameraShape& s) { s.ifd1 = false; }), kTag, 0xFFFF, 0},
      {"PixelXDimension LONG", Extra([](CameraIfds& f) { f.exif.Long(0xA002, {64}); }, {0xA002}), QD_OK, kUnset, 0},
      {"no PixelXDimension", Extra({}, {0xA002}), kTag, 0xA002, 0},
      {"Make without NUL", Extra([](CameraIfds& f) { f.ifd0.Values(0x010F, kTAscii, 1, {'V', 'e'}); }, {0x010F}),
       kTag, 0x010F, 0},
      {"R03, ColorSpace 0xFFFF", Adobe(0xFFFF), QD_OK, kUnset, 0},
      {"R03, ColorSpace 1", Adobe(1), kTag, 0xA001, 0},
      {"R98, ColorSpace 0xFFFF", With([](CameraShape& s) { s.colorSpace = 0xFFFF; }), kTag, 0xA001, 0},
      {"R03 without WhitePoint", Adobe(0xFFFF, {0x013E}), kTag, 0x013E, 0},
      {"R03 with gamma 2.3", Adobe(0xFFFF, {0xA500}, [](CameraIfds& f) { f.exif.Rational(0xA500, {{23, 10}}); }),
       kTag, 0xA500, 0},
      {"thumbnail with JFIF", Thumbnail(AfterSoi(CameraImage(160, 120, 0x21), {JfifApp0()})), kBad, kUnset, 0},
      {"thumbnail 320x240", Thumbnail(CameraImage(320, 240, 0x21)), kBad, kUnset, 0},
      {"thumbnail sampled 2x2", Thumbnail(CameraImage(160, 120, 0x22)), kBad, kUnset, 0},
      {"ImageWidth in IFD0", Extra([](CameraIfds& f) { f.ifd0.Short(0x0100, {64}); }), kTag, 0x0100, 0},
      {"YCbCrSubSampling in IFD1", Extra([](CameraIfds& f) { f.ifd1.Short(0x0212, {2, 1}); }), kTag, 0x0212, 0},
      {"maker note exempts", Exempt(2), QD_OK, kUnset, 0},
      {"maker note of another mode", Exempt(1), kTag, 0x9000, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TestStream in(row.file);
    uint16_t tag = kUnset, portraitAnswer = kUnset;
    EXPECT_EQ(QDParseJpegCheck(in.stream(), 0, &tag, &portraitAnswer), row.result);
    EXPECT_EQ(tag, row.tag);
    EXPECT_EQ(portraitAnswer, row.portrait);
  }
}

TEST(OptionalTrailer, OnlyTheLast64BytesOpeningWithTheSignatureCount) {
  const char kSignature[] = "VEDRA OPTIONAL DATA\0";  // with the literal's NUL: 21 bytes
  const Bytes trailer = Concat({Bytes(kSignature, kSignature + sizeof kSignature), Bytes(43, 7)});
  Bytes nonZero21st = trailer;
  nonZero21st[20] = 1;
  const struct { const char* name; Bytes file; uint16_t present; } rows[] = {
      {"trailer", Concat({CameraJpeg(), trailer}), 1},
      {"one byte more", Concat({CameraJpeg(), trailer, {0}}), 0},
      {"non-zero 21st byte", Concat({CameraJpeg(), nonZero21st}), 0},
      {"63 bytes", Bytes(trailer.begin(), trailer.end() - 1), 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TestStream in(row.file);
    uint16_t present = kUnset;
    EXPECT_EQ(QDParseHasVedraOptionalData(in.stream(), &present), QD_OK);
    EXPECT_EQ(present, row.present);
  }
}

}  // namespace
}  // namespace qdtest
