// Replacement in Exif JPEG and Exif TIFF files: values change where they lie,
// nothing else is written, and running a change twice gives the same file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <string>

#include "exifwrite/exif_support.h"
#include "qdparse.h"
#include "support/jpeg_builder.h"
#include "support/test_stream.h"
#include "support/tiff_builder.h"

namespace {

using namespace qdtest;

constexpr char kDate[] = "2001:02:03 04:05:06";
constexpr int32_t kTime = 1700000000;  // 2023:11:14 22:13:20 UTC

struct Exif {
  Bytes file;
  uint32_t tiffAt = 0;  // where the TIFF header lies in the file
  bool be = false;
};

Exif Build(bool be, bool jpeg, const std::string& make = "Vedra", uint32_t thumbnail = 0, bool xmp = false) {
  uint32_t noteAt = 0, thumbAt = 0, size = 0;
  Bytes tiff;
  for (int pass = 0; pass < 2; ++pass) {  // the second pass knows where things land
    TiffBuilder tb(be ? Order::MM : Order::II);
    TiffIfd& ifd0 = tb.NewIfd();
    TiffIfd& exif = tb.NewIfd();
    TiffIfd& interop = tb.NewIfd();
    TiffIfd& ifd1 = tb.NewIfd();
    TiffBuilder note(be ? Order::MM : Order::II);
    std::vector<uint16_t> cs(46, 0x7FFF), si(33, 0);
    cs[0] = 20, si[0] = 66;  // the settings array claims only 10 of its elements
    note.NewIfd().Short(0x0001, cs).Short(0x0004, si).Long(0x0008, {1000001})
        .Ascii(0x0009, std::string(31, 'o')).Long(0x0010, {0x01230000}).Short(0x0011, {16, 1, 2, 3});  // claims more than it holds
    ifd0.Ascii(0x010F, make).Ascii(0x0110, std::string(31, 'm')).Short(0x0112, {1})
        .Rational(0x011A, {{72, 1}}).Rational(0x011B, {{72, 1}}).Ascii(0x0132, kDate).Sub(0x8769, exif);
    exif.Rational(0x829A, {{1, 100}}).Short(0x8827, {100}).Ascii(0x9003, kDate).Ascii(0x9004, "short")
        .Values(0x9201, kTSRational, 4, {0, 1}).Rational(0x9202, {{0, 1}})
        .Undefined(0x9286, Bytes(24, 0x55)).Short(0xA002, {640}).Long(0xA003, {480})
        .Undefined(0x927C, note.MakerNote(noteAt, false)).Sub(0xA005, interop);
    interop.Short(0x1001, {640}).Short(0x1002, {480});
    ifd0.Next(ifd1);
    ifd1.Rational(0x011A, {{72, 1}}).Rational(0x011B, {{72, 1}});
    if (thumbnail != 0) ifd1.Long(0x0201, {thumbAt}).Long(0x0202, {thumbnail});
    const TiffImage image = tb.Build();
    noteAt = image.ValueOffset(exif, 0x927C);
    thumbAt = size = image.size();
    tiff = image.bytes;
  }
  tiff.resize(size + thumbnail, 0x77);
  if (!jpeg) return {tiff, 0, be};
  // An XMP packet may come first; the Exif block is rewritten where it lies.
  const Bytes packet = App1(Le().text("http://ns.adobe.com/xap/1.0/"));
  const Bytes first = xmp ? packet : Bytes{};
  return {AfterSoi(EncodeJpeg(), {first, App1(App1Payload(tiff))}), uint32_t(12 + first.size()), be};
}

// Where every value of the file lies (offset in the file, size), by tag: IFD0
// and its chain, the Exif, interoperability and maker-note IFDs.
std::multimap<uint16_t, std::pair<uint32_t, uint32_t>> Values(const Exif& x) {
  const uint8_t* t = x.file.data() + x.tiffAt;
  auto u16 = [&](uint32_t at) { return x.be ? t[at] << 8 | t[at + 1] : t[at + 1] << 8 | t[at]; };
  auto u32 = [&](uint32_t at) { return uint32_t(x.be ? u16(at) << 16 | u16(at + 2) : u16(at + 2) << 16 | u16(at)); };
  static const uint32_t kSize[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8};
  std::multimap<uint16_t, std::pair<uint32_t, uint32_t>> out;
  std::function<void(uint32_t, bool)> walk = [&](uint32_t ifd, bool chain) {
    const uint32_t n = u16(ifd);
    for (uint32_t e = ifd + 2; e < ifd + 2 + 12 * n; e += 12) {
      const uint32_t size = u32(e + 4) * kSize[u16(e + 2)];
      const uint32_t at = size <= 4 ? e + 8 : u32(e + 8);
      out.insert({uint16_t(u16(e)), {x.tiffAt + at, size}});
      if (u16(e) == 0x8769 || u16(e) == 0xA005) walk(u32(e + 8), false);
      if (u16(e) == 0x927C) walk(at, false);
    }
    if (chain && u32(ifd + 2 + 12 * n) != 0) walk(u32(ifd + 2 + 12 * n), false);
  };
  walk(u32(4), true);
  return out;
}

std::string At(const Exif& x, uint16_t tag, uint32_t skip = 0, size_t nth = 0) {
  const auto spans = Values(x);
  auto it = spans.lower_bound(tag);
  std::advance(it, nth);
  const auto [at, size] = it->second;
  return std::string(x.file.begin() + at + skip, x.file.begin() + at + size);
}

uint32_t Number(const Exif& x, uint16_t tag, uint32_t skip = 0, uint32_t bytes = 2, size_t nth = 0) {
  const std::string s = At(x, tag, skip, nth);
  uint32_t v = 0;
  for (uint32_t i = 0; i < bytes; ++i) v = x.be ? v << 8 | uint8_t(s[i]) : v | uint32_t(uint8_t(s[i])) << 8 * i;
  return v;
}

// Runs `call` on the file twice and checks what every rewrite promises:
// the length stays, every write lies inside one of the values of `allowed`
// (all of them when empty: only the APP1 payload), the second run changes
// nothing. Returns the file after the first run.
Exif Rewrite(const Exif& x, const std::vector<uint16_t>& allowed,
             const std::function<uint32_t(const qdlStream*)>& call, uint32_t expected = QD_OK) {
  Exif after = x;
  for (int run = 0; run < 2; ++run) {
    TestStream s(after.file);
    EXPECT_EQ(call(s.stream()), expected);
    EXPECT_EQ(s.data().size(), x.file.size());
    auto spans = Values(x);
    if (allowed.empty()) spans = {{0, {x.tiffAt - 6, uint32_t(x.file.size() - x.tiffAt - 4)}}};
    for (const WriteRange& w : s.writes()) {
      bool inside = false;
      for (const auto& [tag, span] : spans) {
        const bool asked = allowed.empty() || std::count(allowed.begin(), allowed.end(), tag) != 0;
        inside |= asked && w.offset >= span.first && w.offset + w.length <= span.first + span.second;
      }
      EXPECT_TRUE(inside) << "write at " << w.offset << " of " << w.length;
    }
    if (run == 1) EXPECT_EQ(s.data(), after.file) << "a second run changed the file";
    after.file = s.data();
  }
  return after;
}

// Capture times depend on the local clock: each test sets the zone it reads them in.
void Zone(const char* tz) { setenv("TZ", tz, 1), tzset(); }

TEST(ReplaceProperties, ValuesChangeInPlaceInEveryKindAndOrder) {
  Zone("UTC");
  struct Row {
    const char* name;
    bool be, jpeg;
    const char* make;
    bool xmp = false;
  } rows[] = {{"JPEG II", false, true, "Vedra"}, {"JPEG MM", true, true, "Vedra"},
              {"TIFF II", false, false, "Vedra"}, {"TIFF MM", true, false, "Vedra"},
              {"other maker", false, false, "Vedrb"}, {"JPEG, XMP first", false, true, "Vedra", true}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Exif x = Build(row.be, row.jpeg, row.make, 0, row.xmp);
    Records records({{0x07, Le().u32(90).u16(0)}, {0x2D, Le().u32(1).u32(250)}, {0x0C, Le().u16(400)},
                     {0x01, Le().text("a comment that is too long")}, {0x83, Le().u32(180)},
                     {0x8F, Le().u32(0xABCDEF01)}, {0x8B, Le().u32(22).u32(10)}, {0x0E, Le().u32(77)},
                     {0x02, Le().u16(5)},                 // too short for its two words: nothing
                     {0x0A, Le().u16(4).u16(0x1234)}});  // element 10: beyond the claimed 10
    ExifImageInfo image{"New model", 2, 0, 0, 0, 320, 240, 0, 300, 350};
    const ExifShotValues shot{5.0f, 100.0f, 100.0f, -1.0f, 0xFFFF, 0xFF};
    const bool camera = std::string(row.make) == "Vedra";
    const std::vector<uint16_t> allowed = {0x0112, 0x829A, 0x8827, 0x9286, 0x9202, 0x0110, 0x1001, 0x1002,
                                           0x011A, 0x011B, 0x0132, 0x9003, 0x0001, 0x0004, 0x0008,
                                           0x0009, 0x0011};
    const Exif after = Rewrite(x, row.jpeg ? std::vector<uint16_t>{} : allowed, [&](const qdlStream* s) {
      ExifCaptureInfo capture{kTime, 424242, "Owner", "Type"};
      return QDParseReplaceProperties(s, &image, &capture, &shot, records.list());
    });
    EXPECT_EQ(Number(after, 0x0112), 6u);
    EXPECT_EQ(Number(after, 0x829A, 4, 4), 250u);
    EXPECT_EQ(Number(after, 0x8827), 400u);
    EXPECT_EQ(At(after, 0x9286), std::string(8, '\0') + "a comment that " + '\0');
    EXPECT_EQ(At(after, 0x0110), "New model" + std::string(23, '\0'));
    EXPECT_EQ(Number(after, 0x011A, 0, 4, 1), 300u) << "IFD1 follows IFD0";
    EXPECT_EQ(Number(after, 0x1002), 240u);
    EXPECT_EQ(At(after, 0x0132), std::string("2023:11:14 22:13:20") + '\0');
    EXPECT_EQ(At(after, 0x9004), At(x, 0x9004)) << "a date value too short is left alone";
    EXPECT_EQ(Number(after, 0xA002), 640u) << "pixel sizes change only in a copy";
    EXPECT_EQ(Number(after, 0x9202, 0, 4), 5u * 65536);
    // The maker note: shot-info elements 4 and 12 (the rotation), file number,
    // owner, element 4 of tag 0x11 — only in the camera's own files.
    EXPECT_EQ(Number(after, 0x0004, 8), camera ? 160u : 0u);
    EXPECT_EQ(Number(after, 0x0004, 24), camera ? 0x200u : 0u);
    EXPECT_EQ(Number(after, 0x0001, 10), 0x7FFFu);
    EXPECT_EQ(Number(after, 0x0001, 20), 0x7FFFu);
    EXPECT_EQ(Number(after, 0x0008, 0, 4), camera ? 424242u : 1000001u);
    EXPECT_EQ(At(after, 0x0009).substr(0, 6), camera ? std::string("Owner\0", 6) : std::string(6, 'o'));
  }
}

TEST(ReplaceProperties, CaptureTimeIsShiftedByTheLocalClock) {
  Zone("XYZ-9");
  const Exif x = Build(false, false);
  ExifCaptureInfo capture;
  const Exif after = Rewrite(x, {0x0132, 0x9003, 0x0008, 0x0009, 0x0006}, [&](const qdlStream* s) {
    capture = {kTime, 0xFFFFFFFF, "", ""};
    return QDParseReplaceProperties(s, nullptr, &capture, nullptr, nullptr);
  });
  EXPECT_EQ(capture.time, kTime + 9 * 3600);
  EXPECT_EQ(At(after, 0x9003), std::string("2023:11:15 07:13:20") + '\0');
}

TEST(ReplaceProperties2, TheSecondImageStandsInAndFillsTag0011) {
  const Exif x = Build(true, false);
  QdAuxImageInfo second{"Second", 10, 0, 0, 0, 100, 50, 0, 96, 96, {7, 8, 9}};
  const Exif after = Rewrite(x, {0x0110, 0x011A, 0x011B, 0x1001, 0x1002, 0x0011}, [&](const qdlStream* s) {
    return QDParseReplaceProperties2(s, nullptr, &second, nullptr, nullptr, nullptr);
  });
  EXPECT_EQ(At(after, 0x0011), std::string("\0\x10\0\x07\0\x08\0\x09", 8));
  EXPECT_EQ(Number(after, 0x1001), 100u);
  EXPECT_EQ(Number(after, 0x011A, 0, 4, 1), 96u);
}

TEST(ReplaceSingleProperty, OneTagFromAValueStream) {
  Zone("UTC");
  struct Row {
    const char* name;
    uint32_t id;
    Bytes value;
    uint32_t result;
    uint16_t tag;
    std::string expected;
  } rows[] = {
      {"orientation", 0x00030112, Le().u16(8), QD_OK, 0x0112, std::string("\x08\0", 2)},
      {"three bytes in a SHORT", 0x00030112, {3, 0, 9}, QD_OK, 0x0112, std::string("\x03\0", 2)},
      {"time to date text", 0x01129003, Le().u32(kTime), QD_OK, 0x9003, std::string("2023:11:14 22:13:20") + '\0'},
      {"maker note", 0x00440008, Le().u32(99), QD_OK, 0x0008, std::string("\x63\0\0\0", 4)},
      {"shorter text", 0x00020110, Le().text("abc"), QD_OK, 0x0110, std::string("abc") + std::string(29, '\0')},
      {"no date conversion there", 0x01020110, Le().u32(kTime), QD_E_NOT_APPLICABLE, 0, ""},
      {"selector 5", 0x00530112, Le().u16(8), QD_E_NOT_APPLICABLE, 0, ""},
      {"type the tag has not", 0x00040112, Le().u32(8), QD_E_NOT_APPLICABLE, 0, ""},
      {"tag 0", 0x00030000, Le().u16(8), QD_E_NOT_APPLICABLE, 0, ""},
  };
  for (bool jpeg : {true, false}) {
    for (const Row& row : rows) {
      SCOPED_TRACE(std::string(row.name) + (jpeg ? " JPEG" : " TIFF MM"));
      const Exif x = Build(!jpeg, jpeg);
      uint8_t type = 0;
      const Exif after = Rewrite(x, jpeg || row.tag == 0 ? std::vector<uint16_t>{} : std::vector<uint16_t>{row.tag},
                                 [&](const qdlStream* s) {
                                   TestStream value(row.value);
                                   return QDParseReplaceSingleProperty(s, &type, row.id, value.stream());
                                 }, row.result);
      EXPECT_EQ(type, jpeg ? 5 : 8);
      if (row.tag == 0) {
        EXPECT_EQ(after.file, x.file);
        continue;
      }
      std::string want = row.expected;
      if (!jpeg) {  // big-endian numbers
        for (size_t i = 0; i + 1 < want.size() && row.tag == 0x0112; i += 2) std::swap(want[i], want[i + 1]);
        if (row.tag == 0x0008) want = std::string("\0\0\0\x63", 4);
      }
      EXPECT_EQ(At(after, row.tag), want);
    }
  }
  // The value stream's own failures: an empty value, and its close error.
  const Exif x = Build(false, true);
  TestStream s(x.file), empty(Bytes{}), closing(Le().u16(8));
  closing.FailCall(Callback::Close, 1, 0x7E57);
  EXPECT_EQ(QDParseReplaceSingleProperty(s.stream(), nullptr, 0x00030112, empty.stream()), QD_E_NOT_APPLICABLE);
  EXPECT_EQ(QDParseReplaceSingleProperty(s.stream(), nullptr, 0x00030112, closing.stream()), 0x7E57u);
  EXPECT_TRUE(s.writes().empty());
}

TEST(ExifCopy, ThumbnailExchangeGrowsTheCopyAndTheSegmentWrapsIt) {
  const Exif x = Build(true, true, "Vedra", 16);
  Records thumb({{0x05, Bytes(32, 0xAB)}});
  PropertyRecord** records = thumb.list();
  ExifImageInfo image{"M", 2, 0, 0, 0, 320, 240, 0, 300, 300};
  TestStream s(x.file);
  TiffBlockInfo copy{};
  ASSERT_EQ(qdParseGetExifPropBufferWithReplace(s.stream(), &image, nullptr, nullptr, records, &copy), QD_OK);
  Exif out{Bytes(copy.segment, copy.tiff + copy.tiffSize), 6, true};
  EXPECT_EQ(Number(out, 0x0202, 0, 4), 32u);
  EXPECT_EQ(out.file.size() - 6 - Number(out, 0x0201, 0, 4), 32u) << "the thumbnail ends the block";
  EXPECT_EQ(out.file.back(), 0xAB);
  EXPECT_EQ(Number(out, 0xA002), 320u);
  EXPECT_EQ(Number(out, 0xA003, 0, 4), 240u);
  EXPECT_EQ(qdParseFreeExifBuffer(&copy), QD_OK);

  TestStream again(x.file);
  ExtensionInfo segment{}, info{};
  ASSERT_EQ(qdParseExifJpegMakeImageProperty(again.stream(), &image, nullptr, nullptr, records, &segment, &info),
            QD_OK);
  ASSERT_EQ(segment.size, out.file.size() + 4);
  EXPECT_EQ(Bytes(segment.buffer, segment.buffer + 4),
            (Bytes{0xFF, 0xE1, uint8_t((segment.size - 2) >> 8), uint8_t(segment.size - 2)}));
  EXPECT_EQ(Bytes(segment.buffer + 4, segment.buffer + segment.size), out.file);
  EXPECT_EQ(qdParseFreeApp1Info(&segment), QD_OK);
  EXPECT_EQ(qdParseFreeApp1Info(&info), QD_OK);
  TestStream tiff(Build(false, false).file);  // the copies take Exif JPEGs only
  EXPECT_EQ(qdParseGetExifPropBufferWithReplace(tiff.stream(), nullptr, nullptr, nullptr, nullptr, &copy),
            QD_E_UNSUPPORTED);
  EXPECT_EQ(qdParseExifJpegMakeImageProperty(tiff.stream(), nullptr, nullptr, nullptr, nullptr, &segment, nullptr),
            QD_E_UNSUPPORTED);
}

}  // namespace
