// The conformance check over a camera file and one edit of it per rule, and
// the optional-data trailer at a stream's end.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "qdparse.h"
#include "support/camera_jpeg.h"
#include "support/test_stream.h"

namespace qdtest {
namespace {

constexpr uint16_t kUnset = 0xA5A5;
constexpr uint32_t kTag = QD_CHECK_TAG_OR_PORTRAIT;
constexpr uint32_t kBad = QD_E_UNSUPPORTED;

Bytes With(const std::function<void(CameraShape&)>& edit) {
  CameraShape s;
  edit(s);
  return CameraJpeg(s);
}
Bytes Adobe(uint16_t colorSpace, std::function<void(CameraShape&)> more = [](CameraShape&) {}) {
  return With([&](CameraShape& s) {
    s.interopIndex = "R03", s.colorSpace = colorSpace, s.adobeRgbTags = true;
    more(s);
  });
}
Bytes Extra(const std::function<void(CameraIfds&)>& extra, std::set<uint16_t> omit = {}) {
  return With([&](CameraShape& s) { s.extra = extra, s.omit = std::move(omit); });
}
// ExifVersion fails; the maker note of our cameras in the Adobe RGB mode excuses it.
Bytes Exempt(uint16_t colourMode, bool imageTag = false) {
  TiffBuilder note(Order::II);
  note.NewIfd().Long(0x0010, {0x01A50000}).Short(0x00B4, {colourMode});
  return With([&](CameraShape& s) {
    s.make = "VEDRA", s.exifVersion = "0230", s.makerNote = note.MakerNote(0, false);
    if (imageTag) s.extra = [](CameraIfds& f) { f.ifd0.Short(0x0100, {64}); };
  });
}
// `pieces` spliced in front of the first `marker` segment.
Bytes Before(Bytes file, uint8_t marker, std::initializer_list<Bytes> pieces) {
  return Insert(file, SegmentOffset(file, marker), pieces);
}
Bytes SegmentOf(const Bytes& file, uint8_t marker) {
  const size_t at = SegmentOffset(file, marker);
  return Bytes(file.begin() + at, file.begin() + at + 2 + (file[at + 2] << 8 | file[at + 3]));
}
Bytes Without(Bytes file, uint8_t marker) {
  const size_t at = SegmentOffset(file, marker), n = SegmentOf(file, marker).size();
  file.erase(file.begin() + at, file.begin() + at + n);
  return file;
}

struct CheckRow {
  const char* name;
  std::function<Bytes()> file;
  uint32_t result;
  uint16_t tag;  // kUnset: not written
  uint16_t portrait;
};

TEST(JpegCheck, EachRuleOnAnEditOfACameraFile) {
  const Bytes camera = CameraJpeg();
  const Bytes dqt = SegmentOf(camera, 0xDB);
  const CheckRow rows[] = {
      {"camera file", [&] { return camera; }, QD_OK, kUnset, 0},
      {"big-endian", [] { return With([](CameraShape& s) { s.order = Order::MM; }); }, QD_OK, kUnset, 0},
      {"portrait", [] { return With([](CameraShape& s) { s.portrait = true; }); }, kTag, kUnset, 1},
      {"portrait image, landscape thumbnail",
       [&] { return AfterSoi(Without(With([](CameraShape& s) { s.portrait = true; }), marker::kAPP1),
                            {SegmentOf(camera, marker::kAPP1)}); }, kBad, kUnset, 0},
      {"JFIF APP0 added", [&] { return AfterSoi(camera, {JfifApp0()}); }, kBad, kUnset, 0},
      {"DQT moved before APP1", [&] { return AfterSoi(Without(camera, 0xDB), {dqt}); }, kBad, kUnset, 0},
      {"two DQT", [&] { return Before(camera, 0xDB, {dqt}); }, kBad, kUnset, 0},
      {"APP2 before the tables", [&] { return Before(camera, 0xDB, {IccApp2(1, 1, {1})}); }, QD_OK, kUnset, 0},
      {"APP2 after DQT", [&] { return Before(camera, marker::kDHT, {IccApp2(1, 1, {1})}); }, kBad, kUnset, 0},
      {"second APP1", [&] { return Before(camera, 0xDB, {App1({'h', 't', 't', 'p'})}); }, kBad, kUnset, 0},
      {"progressive", [] { return AfterSoi(EncodeJpeg({64, 48, 3, 0x21, true, false}),
                                           {SegmentOf(CameraJpeg(), marker::kAPP1)}); }, kBad, kUnset, 0},
      {"sampled 2x2", [] { return AfterSoi(CameraImage(64, 48, 0x22), {SegmentOf(CameraJpeg(), marker::kAPP1)}); },
       QD_OK, kUnset, 0},
      {"sampled 1x1", [] { return AfterSoi(CameraImage(64, 48, 0x11), {SegmentOf(CameraJpeg(), marker::kAPP1)}); },
       kBad, kUnset, 0},
      {"no EOI", [&] { return Bytes(camera.begin(), camera.end() - 2); }, kBad, kUnset, 0},
      {"YCbCrPositioning retyped", [] { return Extra([](CameraIfds& f) { f.ifd0.Long(0x0213, {2}); }, {0x0213}); },
       kTag, 0x0213, 0},
      {"ExifVersion 0230", [] { return With([](CameraShape& s) { s.exifVersion = "0230"; }); }, kTag, 0x9000, 0},
      {"no IFD1", [] { return With([](CameraShape& s) { s.ifd1 = false; }); }, kTag, 0xFFFF, 0},
      {"PixelXDimension LONG", [] { return Extra([](CameraIfds& f) { f.exif.Long(0xA002, {64}); }, {0xA002}); },
       QD_OK, kUnset, 0},
      {"no PixelXDimension", [] { return Extra({}, {0xA002}); }, kTag, 0xA002, 0},
      {"no InteroperabilityIndex", [] { return Extra({}, {0x0001}); }, kTag, 0x0001, 0},
      {"Make without NUL", [] { return Extra([](CameraIfds& f) { f.ifd0.Values(0x010F, kTAscii, 1, {'V', 'e'}); },
                                             {0x010F}); }, kTag, 0x010F, 0},
      {"DateTimeOriginal of 20 characters",
       [] { return Extra([](CameraIfds& f) { f.exif.Ascii(0x9003, "2026:12:06 05:00:001"); }, {0x9003}); },
       kTag, 0x9003, 0},
      {"R03, ColorSpace 0xFFFF", [] { return Adobe(0xFFFF); }, QD_OK, kUnset, 0},
      {"R03, ColorSpace 1", [] { return Adobe(1); }, kTag, 0xA001, 0},
      {"R98, ColorSpace 0xFFFF", [] { return With([](CameraShape& s) { s.colorSpace = 0xFFFF; }); },
       kTag, 0xA001, 0},
      {"R03 without WhitePoint", [] { return Adobe(0xFFFF, [](CameraShape& s) { s.omit = {0x013E}; }); },
       kTag, 0x013E, 0},
      {"R03 with gamma 2.3", [] { return Adobe(0xFFFF, [](CameraShape& s) {
         s.omit = {0xA500}, s.extra = [](CameraIfds& f) { f.exif.Rational(0xA500, {{23, 10}}); }; }); },
       kTag, 0xA500, 0},
      {"thumbnail re-encoded with JFIF", [] { return With([](CameraShape& s) {
         s.thumbnail = EncodeJpeg({160, 120, 3, 0x21, false, true}); }); }, kBad, kUnset, 0},
      {"thumbnail 320x240", [] { return With([](CameraShape& s) { s.thumbnail = CameraImage(320, 240, 0x21); }); },
       kBad, kUnset, 0},
      {"thumbnail sampled 2x2", [] { return With([](CameraShape& s) { s.thumbnail = CameraImage(160, 120, 0x22); }); },
       kBad, kUnset, 0},
      {"ImageWidth in IFD0", [] { return Extra([](CameraIfds& f) { f.ifd0.Short(0x0100, {64}); }); }, kTag, 0x0100, 0},
      {"YCbCrSubSampling in IFD1", [] { return Extra([](CameraIfds& f) { f.ifd1.Short(0x0212, {2, 1}); }); },
       kTag, 0x0212, 0},
      {"maker note exempts", [] { return Exempt(2, true); }, QD_OK, kUnset, 0},
      {"maker note of another mode", [] { return Exempt(1); }, kTag, 0x9000, 0},
  };
  for (const CheckRow& row : rows) {
    SCOPED_TRACE(row.name);
    TestStream in(row.file());
    uint16_t tag = kUnset, portrait = kUnset;
    EXPECT_EQ(QDParseJpegCheck(in.stream(), 0, &tag, &portrait), row.result);
    EXPECT_EQ(tag, row.tag);
    EXPECT_EQ(portrait, row.portrait);
    EXPECT_FALSE(in.IsOpen());
  }
}

TEST(OptionalTrailer, OnlyTheLast64BytesOpeningWithTheSignatureCount) {
  const std::string sig("VEDRA OPTIONAL DATA\0\0", 21);
  const Bytes trailer = Concat({Bytes(sig.begin(), sig.end()), Bytes(43, 7)});
  Bytes signedThenByte = trailer;
  signedThenByte[20] = 1;
  const struct {
    const char* name;
    Bytes file;
    uint16_t present;
  } rows[] = {
      {"trailer", Concat({CameraJpeg(), trailer}), 1},
      {"trailer alone", trailer, 1},
      {"one byte more", Concat({CameraJpeg(), trailer, {0}}), 0},
      {"non-zero 21st byte", Concat({CameraJpeg(), signedThenByte}), 0},
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
