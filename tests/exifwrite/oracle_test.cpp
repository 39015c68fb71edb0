// ExifTool and exiv2 read back the property buffers we write, each wrapped as
// the APP1 segment of a real JPEG, in both byte orders. Skipped where the
// tools are not installed.
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

#include "exifwrite/exif_buffer.h"
#include "exifwrite/exif_support.h"
#include "support/jpeg_builder.h"

namespace qdtest {
namespace {

namespace fs = std::filesystem;
using Tags = std::map<std::string, std::string>;

bool Have(const std::string& tool) { return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0; }

// Standard output of a shell command; its exit status in *status.
std::string Capture(const std::string& command, int* status) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  char buffer[4096];
  for (size_t n; pipe != nullptr && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  const int rc = pipe != nullptr ? pclose(pipe) : -1;
  *status = rc != -1 && WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> Words(const std::string& s) {
  std::istringstream in(s);
  return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

// Equal as text, or word by word as numbers (ExifTool prints converted
// rationals with its own precision).
bool Same(const std::string& actual, const std::string& expected) {
  const std::vector<std::string> a = Words(actual), e = Words(expected);
  if (actual == expected) return true;
  if (a.size() != e.size() || a.empty()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char *endA = nullptr, *endE = nullptr;
    const double x = std::strtod(a[i].c_str(), &endA), y = std::strtod(e[i].c_str(), &endE);
    if (*endA != '\0' || *endE != '\0' || std::fabs(x - y) > 1e-9 * std::fmax(1.0, std::fabs(y))) return false;
  }
  return true;
}

struct Case {
  const char* name;
  bool wideGamut;  // the chromaticity tags, Gamma, ColorSpace 0xFFFF and "R03"
  bool bigEndian;  // the exports write little-endian only; the worker takes either
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

// What both tools must read: ExifTool's name and value (-n), exiv2's key and
// raw value (rationals as n/d, undefined bytes in decimal).
struct Expected {
  const char* exiftool;
  std::string exiftoolValue;
  const char* exiv2;
  std::string exiv2Value;
};

std::vector<Expected> ExpectedTags(const Case& c, size_t thumbnail) {
  const std::string date = "2023:11:14 22:13:20";
  std::vector<Expected> e = {
      {"IFD0:Make", "Vedra", "Exif.Image.Make", "Vedra"},
      {"IFD0:Model", "Vedra Q10", "Exif.Image.Model", "Vedra Q10"},
      {"IFD0:Orientation", "6", "Exif.Image.Orientation", "6"},
      {"IFD0:XResolution", "300", "Exif.Image.XResolution", "300/1"},
      {"IFD0:YResolution", "300", "Exif.Image.YResolution", "300/1"},
      {"IFD0:ResolutionUnit", "2", "Exif.Image.ResolutionUnit", "2"},
      {"IFD0:ModifyDate", date, "Exif.Image.DateTime", date},
      {"IFD0:YCbCrPositioning", "1", "Exif.Image.YCbCrPositioning", "1"},
      {"ExifIFD:ExposureTime", "0.004", "Exif.Photo.ExposureTime", "1/250"},
      {"ExifIFD:FNumber", "5.6", "Exif.Photo.FNumber", "56/10"},
      {"ExifIFD:ISO", "200", "Exif.Photo.ISOSpeedRatings", "200"},
      {"ExifIFD:ExifVersion", c.wideGamut ? "0221" : "0220", "Exif.Photo.ExifVersion",
       c.wideGamut ? "48 50 50 49" : "48 50 50 48"},
      {"ExifIFD:DateTimeOriginal", date, "Exif.Photo.DateTimeOriginal", date},
      {"ExifIFD:CreateDate", date, "Exif.Photo.DateTimeDigitized", date},
      {"ExifIFD:ComponentsConfiguration", "1 2 3 0", "Exif.Photo.ComponentsConfiguration", "1 2 3 0"},
      {"ExifIFD:ShutterSpeedValue", "0.00390625", "Exif.Photo.ShutterSpeedValue", "524288/65536"},  // Tv 8
      {"ExifIFD:ApertureValue", "5.65685424949238", "Exif.Photo.ApertureValue", "327680/65536"},    // Av 5
      {"ExifIFD:ExposureCompensation", "-0.5", "Exif.Photo.ExposureBiasValue", "-3/6"},
      {"ExifIFD:Flash", "16", "Exif.Photo.Flash", "16"},
      {"ExifIFD:FocalLength", "35", "Exif.Photo.FocalLength", "350/10"},
      {"ExifIFD:FocalPlaneXResolution", "3200", "Exif.Photo.FocalPlaneXResolution", "3200/1"},
      {"ExifIFD:FocalPlaneYResolution", "2400", "Exif.Photo.FocalPlaneYResolution", "2400/1"},
      {"ExifIFD:FocalPlaneResolutionUnit", "2", "Exif.Photo.FocalPlaneResolutionUnit", "2"},
      {"ExifIFD:UserComment", "Test comment", "Exif.Photo.UserComment", "charset=Ascii Test comment"},
      {"ExifIFD:FlashpixVersion", "0100", "Exif.Photo.FlashpixVersion", "48 49 48 48"},
      {"ExifIFD:ColorSpace", c.wideGamut ? "65535" : "1", "Exif.Photo.ColorSpace", c.wideGamut ? "65535" : "1"},
      {"ExifIFD:ExifImageWidth", "640", "Exif.Photo.PixelXDimension", "640"},
      {"ExifIFD:ExifImageHeight", "480", "Exif.Photo.PixelYDimension", "480"},
      {"InteropIFD:InteropIndex", c.wideGamut ? "R03" : "R98", "Exif.Iop.InteroperabilityIndex",
       c.wideGamut ? "R03" : "R98"},
      {"InteropIFD:InteropVersion", "0100", "Exif.Iop.InteroperabilityVersion", "48 49 48 48"},
      {"InteropIFD:RelatedImageWidth", "640", "Exif.Iop.RelatedImageWidth", "640"},
      {"IFD1:Compression", "6", "Exif.Thumbnail.Compression", "6"},
      {"IFD1:XResolution", "300", "Exif.Thumbnail.XResolution", "300/1"},
      {"IFD1:ThumbnailLength", std::to_string(thumbnail), "Exif.Thumbnail.JPEGInterchangeFormatLength",
       std::to_string(thumbnail)},
  };
  if (c.wideGamut) {
    e.push_back({"IFD0:WhitePoint", "0.313 0.329", "Exif.Image.WhitePoint", "313/1000 329/1000"});
    e.push_back({"IFD0:PrimaryChromaticities", "0.64 0.33 0.21 0.71 0.15 0.06", "Exif.Image.PrimaryChromaticities",
                 "64/100 33/100 21/100 71/100 15/100 6/100"});
    e.push_back({"IFD0:YCbCrCoefficients", "0.299 0.587 0.114", "Exif.Image.YCbCrCoefficients",
                 "299/1000 587/1000 114/1000"});
    e.push_back({"ExifIFD:Gamma", "2.2", "Exif.Photo.Gamma", "22/10"});
  }
  return e;
}

void ExpectTag(const Tags& read, const std::string& tag, const std::string& value, const std::string& output) {
  const auto it = read.find(tag);
  if (it == read.end()) {
    ADD_FAILURE() << tag << " was not read; the tool printed:\n" << output;
  } else {
    EXPECT_TRUE(Same(it->second, value)) << tag << ": read \"" << it->second << "\", wrote \"" << value << "\"";
  }
}

class Oracle : public testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
    dir_ = fs::temp_directory_path() / ("qdparse-oracle-" + std::to_string(getpid()) + "-" + GetParam().name);
    fs::create_directories(dir_);
    JpegShape small;
    small.width = 160;
    small.height = 120;
    small.jfif = false;
    thumbnail_ = EncodeJpeg(small);

    RichInput in(thumbnail_, GetParam().wideGamut);
    ExifBlock block;
    const qd::exif::BufferMode bigEndian{false, false, true, false};  // as the maker-note export builds
    if (GetParam().bigEndian) {
      ASSERT_EQ(qd::exif::BuildExifBuffer(&in.image, &in.capture, &in.shot, in.records.list(), bigEndian, &block.info),
                qd::ST_OK);
    } else {
      ASSERT_EQ(in.Call(qdParseCreateExifPropBufferEx, &block.info), QD_OK);
    }
    ASSERT_LE(block.payload().size(), 65533u) << "the block must fit one APP1 segment";
    JpegShape main;
    main.width = 640;
    main.height = 480;
    main.jfif = false;
    const Bytes jpeg = AfterSoi(EncodeJpeg(main), {App1(block.payload())});
    file_ = dir_ / "written.jpg";
    std::ofstream(file_, std::ios::binary).write(reinterpret_cast<const char*>(jpeg.data()), jpeg.size());
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string Quoted(const fs::path& p) const { return "'" + p.string() + "'"; }

  fs::path dir_, file_;
  Bytes thumbnail_;
};

TEST_P(Oracle, ExifToolReadsEveryTagWithoutWarnings) {
  if (!Have("exiftool")) GTEST_SKIP() << "exiftool is not installed";
  int status = 0;
  // -api validate adds ExifTool's conformance checks to its warnings.
  const std::string output = Capture("exiftool -a -G1 -s -n -api validate " + Quoted(file_) + " 2>&1", &status);
  ASSERT_EQ(status, 0) << output;
  Tags read;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {  // "[Group]   Tag   : value"
    const size_t close = line.find(']'), colon = line.find(" : ");
    if (line.rfind('[', 0) != 0 || close == std::string::npos || colon == std::string::npos || colon < close) continue;
    const std::vector<std::string> name = Words(line.substr(close + 1, colon - close - 1));
    if (name.size() != 1) continue;
    read[line.substr(1, close - 1) + ":" + name[0]] = line.substr(colon + 3);
    EXPECT_TRUE(name[0] != "Warning" && name[0] != "Error") << line;
  }
  ExpectTag(read, "File:ExifByteOrder", GetParam().bigEndian ? "MM" : "II", output);
  for (const Expected& e : ExpectedTags(GetParam(), thumbnail_.size())) ExpectTag(read, e.exiftool, e.exiftoolValue, output);
  if (!GetParam().wideGamut) {
    EXPECT_EQ(read.count("IFD0:WhitePoint"), 0u);
  }

  const fs::path extracted = dir_ / "thumbnail.jpg";
  ASSERT_EQ(std::system(("exiftool -b -ThumbnailImage " + Quoted(file_) + " > " + Quoted(extracted)).c_str()), 0);
  EXPECT_EQ(ReadFile(extracted), thumbnail_) << "the thumbnail ExifTool extracts is the one we put in";
}

TEST_P(Oracle, Exiv2ReadsEveryTagSilently) {
  if (!Have("exiv2")) GTEST_SKIP() << "exiv2 is not installed";
  int status = 0;
  const fs::path errors = dir_ / "exiv2.err";
  const std::string output = Capture("exiv2 -PEkv " + Quoted(file_) + " 2> " + Quoted(errors), &status);
  ASSERT_EQ(status, 0) << output;
  const Bytes complaints = ReadFile(errors);
  EXPECT_TRUE(complaints.empty()) << "exiv2 complained:\n" << std::string(complaints.begin(), complaints.end());
  Tags read;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {  // "Key   value"
    const size_t space = line.find(' '), value = line.find_first_not_of(' ', space);
    if (value != std::string::npos) read[line.substr(0, space)] = line.substr(value);
  }
  for (const Expected& e : ExpectedTags(GetParam(), thumbnail_.size())) ExpectTag(read, e.exiv2, e.exiv2Value, output);

  // -et writes <stem>-thumb.jpg into the -l directory. Its exit status is not
  // checked: exiv2 0.27 exits with the thumbnail's byte count modulo 256.
  (void)std::system(("exiv2 -f -et -l " + Quoted(dir_) + " " + Quoted(file_) + " 2>/dev/null").c_str());
  EXPECT_EQ(ReadFile(dir_ / "written-thumb.jpg"), thumbnail_);
}

INSTANTIATE_TEST_SUITE_P(Blocks, Oracle,
                         testing::Values(Case{"LittleEndianSrgb", false, false},
                                         Case{"LittleEndianWideGamut", true, false},
                                         Case{"BigEndianWideGamut", true, true}),
                         [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qdtest
