// Exif property buffers and maker notes. ExifTool and exiv2 read back what the
// rich input writes; the cases they do not reach are read with TiffReader.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "exifwrite/camera_models.h"
#include "exifwrite/exif_buffer.h"
#include "exifwrite/exif_support.h"
#include "support/fault_sweep.h"
#include "support/jpeg_builder.h"

namespace qdtest {
namespace {

using Nums = std::vector<uint32_t>;
const ExifExport kBasic = qdParseCreateExifPropBuffer, kEx = qdParseCreateExifPropBufferEx;

// A build and its IFDs, copied out of the block, which is released at once.
struct Built {
  Bytes payload;
  TiffReader r;
  Ifd ifd0, exif, maker, interop;
  uint32_t makerAt = 0, makerSize = 0;

  Built(uint32_t result, const ExifBlock& b) : payload(b.payload()), r(b.tiff()) {
    EXPECT_EQ(result, QD_OK);
    ifd0 = r.Ifd(r.U32(4));
    if (const Entry* e = Find(ifd0, 0x8769)) exif = r.Ifd(e->field);
    if (const Entry* e = Find(exif, 0xA005)) interop = r.Ifd(e->field);
    if (const Entry* e = Find(exif, 0x927C)) maker = r.Ifd(makerAt = e->field);
    if (const Entry* e = Find(exif, 0x927C)) makerSize = e->count;
  }
  static const Entry* Find(const Ifd& ifd, uint16_t tag) {
    for (const Entry& e : ifd) {
      if (e.tag == tag) return &e;
    }
    return nullptr;
  }
  Nums Numbers(const Ifd& ifd, uint16_t tag) const {
    return Find(ifd, tag) ? r.Numbers(*Find(ifd, tag)) : Nums{};
  }
  std::string Text(const Ifd& ifd, uint16_t tag) const {
    return Find(ifd, tag) ? r.Text(*Find(ifd, tag)) : "-";
  }
  Bytes Raw(const Ifd& ifd, uint16_t tag) const {
    return Find(ifd, tag) ? r.Value(*Find(ifd, tag)) : Bytes{};
  }
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

// A build in either byte order, through the worker the maker-note export uses.
Built MakeInOrder(RichInput& in, bool bigEndian) {
  ExifBlock b;
  const qd::exif::BufferMode mode{false, false, bigEndian, false};
  return Built(qd::ToResultCode(qd::exif::BuildExifBuffer(&in.image, &in.capture, &in.shot,
                                                          in.records.list(), mode, &b.info)),
               b);
}

Bytes Pattern(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 7 + 1);
  return b;
}

class ExifWriter : public testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
  }
  void TearDown() override { EXPECT_EQ(LiveBlocks(), live_) << "blocks leaked"; }
  int64_t live_ = LiveBlocks();
};

// The forms: the basic one without the camera arrays and firmware text, the
// lossless twin signed differently; an image record marked invalid is none.
TEST_F(ExifWriter, FormsOfTheBuffer) {
  const Built none = Make(), bare = Make({}, nullptr, kBasic);
  EXPECT_EQ(none.Raw(none.exif, 0x9286), Bytes(264, 0)) << "an empty comment";
  EXPECT_EQ(none.Text(none.maker, 0x0007), "Firmware Version 00.00");
  EXPECT_EQ(bare.Raw(bare.maker, 0x0007), Bytes(32, 0));
  ExifImageInfo invalid = Image("Vedra Q10", 640, 480);
  invalid.valid = 0;
  EXPECT_EQ(Make({}, &invalid).payload, none.payload);

  RichInput in(Pattern(100), true);
  const Built ex = Make(in, kEx), lole = Make(in, qdParseCreateLossLessPropBuffer);
  ASSERT_EQ(lole.payload.size(), ex.payload.size());
  EXPECT_EQ(Bytes(lole.payload.begin(), lole.payload.begin() + 6), Bytes(Le().text("LoLe").u16(0)));
  EXPECT_TRUE(std::equal(lole.payload.begin() + 6, lole.payload.end(), ex.payload.begin() + 6));
  const Built basic = Make(in, kBasic);
  EXPECT_NE(Built::Find(ex.maker, 0x0004), nullptr);
  EXPECT_EQ(basic.maker.size(), ex.maker.size() - 2) << "no camera settings, no shot info";

  // The footer names where the maker note was written ("II", 42, offset), so
  // that a reader can relocate it once it has moved.
  const Bytes& t = ex.r.bytes();
  const uint32_t end = ex.makerAt + ex.makerSize;
  ASSERT_LE(end, t.size());
  EXPECT_EQ(Bytes(t.begin() + end - 8, t.begin() + end),
            Bytes(Le().text("II").u16(42).u32(ex.makerAt)));
}

// Records that are not passed through, alone or with another, and where their value lands.
TEST_F(ExifWriter, RecordsLandWhereTheirCodesSay) {
  enum Where { kIfd0, kExif, kMaker };
  const auto comment = [](const std::string& code, const Bytes& text, size_t size) {
    Bytes b(size, 0);
    std::copy(code.begin(), code.end(), b.begin());
    std::copy(text.begin(), text.end(), b.begin() + 8);
    return b;
  };
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
      {{{0x01, Pattern(257)}}, kExif, 0x9286, {}, comment("", Pattern(257), 266)},
      {{{0x0B, Le().text("UNICODE!").u32(2).text("ab")}}, kExif, 0x9286, {},
       comment("UNICODE!", {'a', 'b'}, 264)},
      {{{0x0B, Le().text("ASCII").u16(0).u8(0).u32(50).text("hello")}}, kExif, 0x9286, {},
       Bytes(264, 0)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << &c - cases);
    const Built b = Make(c.records);
    const Ifd& ifd = c.where == kIfd0 ? b.ifd0 : c.where == kExif ? b.exif : b.maker;
    EXPECT_EQ(c.raw.empty() ? b.Numbers(ifd, c.tag) : Nums{}, c.numbers);
    EXPECT_EQ(c.raw.empty() ? Bytes{} : b.Raw(ifd, c.tag), c.raw);
  }
}

// Records and shot values that write elements of the camera settings (tag 1)
// and shot info (tag 4) in the maker note.
TEST_F(ExifWriter, CameraArraysFromRecordsAndShotValues) {
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
    const Nums settings = b.Numbers(b.maker, 0x0001), shotInfo = b.Numbers(b.maker, 0x0004);
    for (const auto& [i, v] : c.settings) EXPECT_EQ(settings.at(i), v) << "settings " << i;
    for (const auto& [i, v] : c.shotInfo) EXPECT_EQ(shotInfo.at(i), v) << "shot info " << i;
  }
  EXPECT_EQ(Built::Find(Make({{0x0A, Le().u16(2).u16(1)}}).maker, 0x0001), nullptr);
}

// The version record, the image's shape, the form and the colour-mode
// record decide ExifVersion and the interoperability index, if any.
TEST_F(ExifWriter, ExifVersionAndInteroperability) {
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
    EXPECT_EQ(b.Text(b.exif, 0x9000), c.version);
    EXPECT_EQ(b.Text(b.interop, 0x0001), c.index);
  }
}

TEST_F(ExifWriter, MakerNoteAloneInEitherByteOrder) {
  for (uint8_t order : {0, 1}) {
    RichInput in(Pattern(10), false);
    MakerNoteBuffer note{};
    note.byteOrder = order;
    ASSERT_EQ(qdParseCreateMakerNote(&in.image, &in.capture, &in.shot, in.records.list(), &note),
              QD_OK);
    const Built whole = MakeInOrder(in, order != 0);
    EXPECT_EQ((Nums{note.byteOrder, note.offset, note.size}),
              (Nums{order, whole.makerAt, whole.makerSize}));
    const auto at = whole.r.bytes().begin() + whole.makerAt;
    EXPECT_EQ(Bytes(note.data, note.data + note.size), Bytes(at, at + note.size));
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

// Model rules no writer output shows: the B7 by its exact name, and records
// of the default rule on every model but the ARX K24 family.
TEST(CameraModels, ExactNamesAndTheDefaultRule) {
  EXPECT_FALSE(qd::camera::IsLumaframeB7("Vedra Lumaframe B70"));
  EXPECT_FALSE(qd::camera::HasRecord("Vedra ARX K24", 30));
  EXPECT_TRUE(qd::camera::HasRecord("Vedra ARX K48", 30));
}

// Every code with payloads too short for it, each in a block of exactly its
// size; unknown codes; names that fill their fields.
TEST_F(ExifWriter, HostileRecordsAndLongNames) {
  for (uint16_t code = 0; code <= 0x120; ++code) {
    for (size_t size : {0, 1, 2, 3, 5, 7, 11, 13, 25}) {
      SCOPED_TRACE(testing::Message() << "record 0x" << std::hex << code << " of " << size);
      ASSERT_FALSE(Make({{code, Pattern(size)}}).maker.empty());
    }
  }
  RichInput plain(Pattern(40), true), noisy(Pattern(40), true);
  for (uint16_t code : {0x00, 0x3D, 0x7F, 0x8C, 0x8F, 0x109, 0x110, 0x112, 0x200, 0xFFFF}) {
    noisy.records.Add(code, Pattern(16));
  }
  EXPECT_EQ(Make(plain, kEx).payload, Make(noisy, kEx).payload) << "unknown codes are skipped";

  ExifImageInfo image = Image(std::string(32, 'M'), 640, 480);
  ExifCaptureInfo capture{};
  std::memset(capture.owner, 'O', 32);
  const Built n = Make({}, &image, kEx, nullptr, &capture);
  EXPECT_EQ(n.Raw(n.ifd0, 0x0110), Bytes(Le().text(std::string(31, 'M')).u8(0)));
  EXPECT_EQ(n.Text(n.maker, 0x0009), std::string(31, 'O'));
}

bool Have(const std::string& tool) {
  return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

std::string Shell(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  char buffer[4096];
  for (size_t n; pipe != nullptr && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
    out.append(buffer, n);
  }
  const int rc = pipe != nullptr ? pclose(pipe) : -1;
  EXPECT_TRUE(rc != -1 && WIFEXITED(rc) && WEXITSTATUS(rc) == 0) << command << "\n" << out;
  return out;
}

// Equal as text, or word by word as numbers (ExifTool prints converted
// rationals with its own precision).
bool Same(const std::string& actual, const std::string& expected) {
  std::istringstream a(actual), e(expected);
  const std::vector<std::string> x{std::istream_iterator<std::string>(a), {}};
  const std::vector<std::string> y{std::istream_iterator<std::string>(e), {}};
  if (x.empty() || x.size() != y.size()) return false;
  for (size_t i = 0; i < x.size(); ++i) {
    char *endX = nullptr, *endY = nullptr;
    const double u = std::strtod(x[i].c_str(), &endX), v = std::strtod(y[i].c_str(), &endY);
    if (x[i] != y[i] && (*endX != '\0' || *endY != '\0' || std::fabs(u - v) > 1e-9)) return false;
  }
  return true;
}

// What the independent readers must find, in either byte order: ExifTool's
// name and value (-n), exiv2's key and raw value (rationals as n/d,
// undefined bytes in decimal).
enum Gamut { kBoth, kSrgb, kWide };
const struct {
  Gamut only;
  const char *exiftool, *exiftoolValue, *exiv2, *exiv2Value;
} kTags[] = {
    {kBoth, "IFD0:Make", "Vedra", "Exif.Image.Make", "Vedra"},
    {kBoth, "IFD0:Model", "Vedra Q10", "Exif.Image.Model", "Vedra Q10"},
    {kBoth, "IFD0:Orientation", "6", "Exif.Image.Orientation", "6"},
    {kBoth, "IFD0:ModifyDate", "2023:11:14 22:13:20", "Exif.Image.DateTime", "2023:11:14 22:13:20"},
    {kBoth, "ExifIFD:ExposureTime", "0.004", "Exif.Photo.ExposureTime", "1/250"},
    {kBoth, "ExifIFD:ISO", "200", "Exif.Photo.ISOSpeedRatings", "200"},
    {kSrgb, "ExifIFD:ExifVersion", "0220", "Exif.Photo.ExifVersion", "48 50 50 48"},
    {kWide, "ExifIFD:ExifVersion", "0221", "Exif.Photo.ExifVersion", "48 50 50 49"},
    {kBoth, "ExifIFD:ApertureValue", "5.65685424949238", "Exif.Photo.ApertureValue",
     "327680/65536"},
    {kBoth, "ExifIFD:ExposureCompensation", "-0.5", "Exif.Photo.ExposureBiasValue", "-3/6"},
    {kBoth, "ExifIFD:FocalPlaneXResolution", "3200", "Exif.Photo.FocalPlaneXResolution", "3200/1"},
    {kBoth, "ExifIFD:UserComment", "Test comment", "Exif.Photo.UserComment",
     "charset=Ascii Test comment"},
    {kSrgb, "ExifIFD:ColorSpace", "1", "Exif.Photo.ColorSpace", "1"},
    {kWide, "ExifIFD:ColorSpace", "65535", "Exif.Photo.ColorSpace", "65535"},
    {kSrgb, "InteropIFD:InteropIndex", "R98", "Exif.Iop.InteroperabilityIndex", "R98"},
    {kWide, "InteropIFD:InteropIndex", "R03", "Exif.Iop.InteroperabilityIndex", "R03"},
    {kBoth, "IFD1:Compression", "6", "Exif.Thumbnail.Compression", "6"},
    {kBoth, "IFD1:XResolution", "300", "Exif.Thumbnail.XResolution", "300/1"},
    {kWide, "IFD0:WhitePoint", "0.313 0.329", "Exif.Image.WhitePoint", "313/1000 329/1000"},
    {kWide, "IFD0:YCbCrCoefficients", "0.299 0.587 0.114", "Exif.Image.YCbCrCoefficients",
     "299/1000 587/1000 114/1000"},
    {kWide, "ExifIFD:Gamma", "2.2", "Exif.Photo.Gamma", "22/10"},
};

// The rich input, little-endian sRGB and big-endian wide gamut, as the APP1
// segment of a real JPEG. Both tools must stay silent (-api validate adds
// ExifTool's conformance checks) and extract the thumbnail we put in.
TEST_F(ExifWriter, ExifToolAndExiv2ReadWhatWeWrite) {
  const bool exiftool = Have("exiftool"), exiv2 = Have("exiv2");
  if (!exiftool && !exiv2) GTEST_SKIP() << "neither exiftool nor exiv2 is installed";
  const auto dir = std::filesystem::temp_directory_path() / ("qdparse-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string file = "'" + (dir / "written.jpg").string() + "'";
  const Bytes thumbnail = EncodeJpeg(JpegShape{160, 120, 3, 0x22, false, false});
  for (bool wide : {false, true}) {
    SCOPED_TRACE(wide ? "big-endian, wide gamut" : "little-endian, sRGB");
    RichInput in(thumbnail, wide);
    const Built b = wide ? MakeInOrder(in, true) : Make(in, kEx);
    ASSERT_LE(b.payload.size(), 65533u) << "the block must fit one APP1 segment";
    const Bytes main = EncodeJpeg(JpegShape{640, 480, 3, 0x22, false, false});
    const Bytes jpeg = AfterSoi(main, {App1(b.payload)});
    std::ofstream(dir / "written.jpg", std::ios::binary)
        .write(reinterpret_cast<const char*>(jpeg.data()), std::streamsize(jpeg.size()));

    std::map<std::string, std::string> read;  // "[Group] Tag : value" and "Key value"
    std::istringstream tool(exiftool ? Shell("exiftool -a -G1 -s -n -api validate " + file) : "");
    for (std::string line, group, tag, colon; std::getline(tool, line);) {
      std::istringstream(line) >> group >> tag >> colon;
      EXPECT_TRUE(tag != "Warning" && tag != "Error") << line;
      if (colon != ":") continue;
      read[group.substr(1, group.size() - 2) + ":" + tag] = line.substr(line.find(" : ") + 3);
    }
    std::istringstream keys(exiv2 ? Shell("exiv2 -PEkv " + file + " 2>&1") : "");
    for (std::string line, key; std::getline(keys, line);) {
      EXPECT_EQ(line.rfind("Exif.", 0), 0u) << "exiv2 complained: " << line;
      std::istringstream(line) >> key;
      const size_t value = line.find_first_not_of(' ', key.size());
      read[key] = value == std::string::npos ? "" : line.substr(value);
    }
    for (const auto& e : kTags) {
      for (const auto& [tag, value] :
           {std::pair{e.exiftool, e.exiftoolValue}, std::pair{e.exiv2, e.exiv2Value}}) {
        if (e.only == (wide ? kSrgb : kWide) || !(tag == e.exiftool ? exiftool : exiv2)) continue;
        EXPECT_TRUE(Same(read[tag], value)) << tag << " read as \"" << read[tag] << '"';
      }
    }
    EXPECT_EQ(read.count("IFD0:WhitePoint") + read.count("Exif.Image.WhitePoint") > 0, wide);
    if (exiftool) {
      const std::string extracted = Shell("exiftool -b -ThumbnailImage " + file);
      EXPECT_EQ(Bytes(extracted.begin(), extracted.end()), thumbnail);
    }
    if (exiv2) {  // its exit status is the thumbnail's length modulo 256 in some versions
      std::filesystem::remove(dir / "written-thumb.jpg");
      const std::string command = "exiv2 -f -et -l '" + dir.string() + "' " + file;
      (void)std::system((command + " >/dev/null 2>&1").c_str());
      std::ifstream in(dir / "written-thumb.jpg", std::ios::binary);
      EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(in), {}), thumbnail);
    }
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace qdtest
