// The file-type and maker-note queries on every kind of file.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "qdparse.h"
#include "support/container_builder.h"
#include "support/fault_sweep.h"
#include "support/jpeg_builder.h"
#include "support/test_stream.h"
#include "support/tiff_builder.h"

namespace qdtest {
namespace {

constexpr uint16_t kTagMake = 0x010F, kTagModel = 0x0110, kTagExifIfd = 0x8769, kTagMakerNote = 0x927C;

// A heap file: image class (when given), a description with `bits` per
// sample, and the maker-and-model text "maker\0model".
Bytes HeapCamera(std::optional<uint32_t> imageClass, uint32_t bits, const std::string& maker,
                 bool big = false) {
  HeapBuilder props(big), owner(big), root(big);
  if (imageClass) props.Data(0x1803, U32s({*imageClass, 0}, big));
  props.Data(0x1810, U32s({8, 8, 0x3F800000, 0, bits, 0, 0}, big));
  props.Data(0x180E, U32s({981173106 + 3600, 3600, 0}, big));
  Bytes names(maker.begin(), maker.end());
  const std::string model = "ARX K24 Pro";
  names.push_back(0);
  names.insert(names.end(), model.begin(), model.end());
  names.resize(64, 0);
  owner.Data(0x080A, names);
  owner.Data(0x0810, {});
  props.Nested(0x2807, owner);
  root.Nested(kTypeImageProperties, props);
  return HeapFileBuilder(root).Build();
}

// An Exif TIFF whose maker note holds a camera-settings array with value 9 =
// `kind` and value 0 (its byte length) = `length`.
struct ExifCamera {
  ExifCamera(Order order, const std::string& make, uint16_t kind, uint16_t length = 92,
             uint32_t countField = 0) {
    std::vector<uint16_t> settings(46, 0);
    settings[0] = length;
    settings[9] = kind;
    TiffBuilder note(order);
    note.NewIfd().Short(1, settings);
    uint32_t at = 0;
    for (int pass = 0; pass < 2; ++pass) {
      TiffBuilder b(order);
      TiffIfd& ifd0 = b.NewIfd();
      TiffIfd& exif = b.NewIfd();
      noteBytes = note.MakerNote(at, false);
      exif.Undefined(kTagMakerNote, noteBytes);
      if (countField != 0) exif.CountField(countField);
      ifd0.Ascii(kTagMake, make).Ascii(kTagModel, "ARX K24 Pro").Ascii(0x0132, "2001:02:03 04:05:06");
      ifd0.Sub(kTagExifIfd, exif);
      const TiffImage image = b.Pad(400).Build();
      at = image.ValueOffset(exif, kTagMakerNote);
      tiff = image.bytes;
    }
    noteAt = at;
    const Bytes jpeg = EncodeJpeg();
    exifJpeg = AfterSoi(jpeg, {App1(App1Payload(tiff))});
  }
  Bytes tiff, exifJpeg, noteBytes;
  uint32_t noteAt = 0;
};

TEST(FileType, FormatCodeMakerAndModelOfEveryKind) {
  const ExifCamera ii(Order::II, "VEDRA", 4), mm(Order::MM, "Vedra", 3), other(Order::II, "Maker", 4);
  const ExifCamera shortSettings(Order::II, "Vedra", 4, 18), five(Order::MM, "Vedra", 5);
  TiffBuilder plain(Order::MM);
  plain.NewIfd().Ascii(kTagMake, "Vedra").Ascii(kTagModel, "ARX K1600Q");
  const std::string longName(63, 'x');
  struct Row {
    const char* name;
    Bytes file;
    uint32_t result;
    uint8_t format;
    const char* maker;
    const char* model;
  } rows[] = {
      {"heap, 16-bit class 3", HeapCamera(0x00030000, 16, "Vedra"), QD_OK, 9, "Vedra", "ARX K24 Pro"},
      {"heap, class 3", HeapCamera(0x00030001, 8, "Vedra"), QD_OK, 3, "Vedra", "ARX K24 Pro"},
      {"heap, class 1", HeapCamera(0x00010000, 16, "Vedra"), QD_OK, 2, "Vedra", "ARX K24 Pro"},
      {"heap, class 2", HeapCamera(0x00020000, 16, "Vedra"), QD_OK, 1, "Vedra", "ARX K24 Pro"},
      {"heap, class 7", HeapCamera(0x00070000, 16, "Vedra"), QD_OK, 0, "Vedra", "ARX K24 Pro"},
      {"heap, no class", HeapCamera(std::nullopt, 8, "vedra"), QD_OK, 2, "vedra", "ARX K24 Pro"},
      {"heap, no class, other maker", HeapCamera(std::nullopt, 8, "Maker"), QD_E_NOT_APPLICABLE, 0,
       "Maker", "ARX K24 Pro"},
      {"heap, maker name of 63", HeapCamera(0x00010000, 8, longName), QD_E_UNSUPPORTED, 0, "", ""},
      {"Exif TIFF, settings kind 4", ii.tiff, QD_OK, 11, "VEDRA", "ARX K24 Pro"},
      {"Exif TIFF, settings kind 3", mm.tiff, QD_OK, 10, "Vedra", "ARX K24 Pro"},
      {"Exif TIFF, kind 5", five.tiff, QD_OK, 11, "Vedra", "ARX K24 Pro"},
      {"Exif JPEG, kind 5", five.exifJpeg, QD_OK, 5, "Vedra", "ARX K24 Pro"},
      {"Exif JPEG, kind 3", mm.exifJpeg, QD_OK, 10, "Vedra", "ARX K24 Pro"},
      {"Exif TIFF, short settings", shortSettings.tiff, QD_OK, 8, "Vedra", "ARX K24 Pro"},
      {"Exif TIFF, other maker", other.tiff, QD_OK, 8, "Maker", "ARX K24 Pro"},
      {"Exif JPEG, other maker", other.exifJpeg, QD_OK, 5, "Maker", "ARX K24 Pro"},
      {"plain TIFF", plain.Pad(400).Build().bytes, QD_OK, 12, "Vedra", "ARX K1600Q"},
      {"not a camera file", Bytes(600, 'x'), QD_E_NOT_APPLICABLE, 0, "", ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    TestStream in(r.file);
    uint8_t format = 0xEE;
    char model[32], maker[32];
    std::memset(model, 'z', sizeof model);
    std::memset(maker, 'z', sizeof maker);
    EXPECT_EQ(qdParseGetFileType(in.stream(), &format, model, maker), r.result);
    EXPECT_EQ(format, r.format);
    EXPECT_STREQ(maker, r.maker);
    EXPECT_STREQ(model, r.model);
    EXPECT_FALSE(in.IsOpen());
    EXPECT_EQ(LiveBlocks(), 0);
  }
  TestStream in(HeapCamera(0x00010000, 8, "Vedra"));
  EXPECT_EQ(qdParseGetFileType(in.stream(), nullptr, nullptr, nullptr), QD_E_INVALID_ARG);
  EXPECT_EQ(in.TotalCalls(), 0);
}

TEST(MakerNoteLocation, TheCameraMakersNoteIsLocatedAndCopiedOut) {
  const ExifCamera mm(Order::MM, "Vedra", 4), other(Order::II, "Maker", 4);
  const ExifCamera past(Order::II, "Vedra", 4, 92, 0x7FFFFFF0);
  struct Row {
    const char* name;
    Bytes file;
    uint32_t result;
    uint32_t offset;  // expected location (when the result is QD_OK)
  } rows[] = {
      {"Exif TIFF", mm.tiff, QD_OK, mm.noteAt},
      {"Exif JPEG", mm.exifJpeg, QD_OK, mm.noteAt},
      {"other maker", other.tiff, QD_E_OTHER_MAKER, 0},
      {"Exif TIFF, note past the end", past.tiff, QD_E_OUT_OF_RANGE, 0},
      // In memory the walk does not locate a value that leaves the block.
      {"Exif JPEG, note past the end", past.exifJpeg, QD_E_NOT_APPLICABLE, 0},
      {"heap file", HeapFileFixture(false), QD_E_NOT_APPLICABLE, 0},
  };
  for (const Row& r : rows) {
    for (bool withOutput : {false, true}) {
      SCOPED_TRACE(testing::Message() << r.name << (withOutput ? ", copied" : ""));
      TestStream in(r.file), out;
      MakerNoteLocation where;
      std::memset(&where, 0xEE, sizeof where);
      const bool copyFails = r.result == QD_E_OUT_OF_RANGE && !withOutput;
      EXPECT_EQ(qdParseGetDCFMakerNote(in.stream(), &where, withOutput ? out.stream() : nullptr),
                copyFails ? QD_OK : r.result);
      if (r.result == QD_OK) {
        EXPECT_EQ(+where.length, mm.noteBytes.size());
        EXPECT_EQ(+where.byteOrder, 1);
        EXPECT_EQ(+where.offset, r.offset);
        EXPECT_EQ(out.data(), withOutput ? mm.noteBytes : Bytes{});
      } else if (r.result == QD_E_NOT_APPLICABLE) {
        EXPECT_EQ(+where.length, 0xEEEEEEEEu) << "untouched";
      }
      EXPECT_FALSE(in.IsOpen());
      EXPECT_FALSE(out.IsOpen());
      EXPECT_EQ(LiveBlocks(), 0);
    }
  }
}

// Seconds since 1970 of 2001-02-03 04:05:06 in the zone EST5 (UTC-5, no
// summer time), the zone this test sets.
constexpr uint32_t kLocalDateTime = 981191106;

TEST(SingleProperty, OneValueByIdentifierFromEveryKind) {
  const char* savedZone = std::getenv("TZ");
  const std::string saved = savedZone != nullptr ? savedZone : "";
  setenv("TZ", "EST5", 1);
  tzset();
  const ExifCamera mm(Order::MM, "Vedra", 4), other(Order::II, "Maker", 4);
  const Bytes heapMM = HeapCamera(0x00030000, 16, "Vedra", true);
  std::vector<uint16_t> settings(46, 0);
  settings[0] = 92;
  settings[9] = 4;
  Bytes names = {'V', 'e', 'd', 'r', 'a', 0, 'A', 'R', 'X', ' ', 'K', '2', '4', ' ', 'P', 'r', 'o'};
  names.resize(64, 0);
  const Bytes model = {'A', 'R', 'X', ' ', 'K', '2', '4', ' ', 'P', 'r', 'o', 0};
  struct Row {
    const char* name;
    const Bytes& file;
    uint32_t id;
    uint32_t result;
    uint8_t fileType;
    Bytes value;
  } rows[] = {
      {"heap record, native order", heapMM, 0x00001810, QD_OK, 1, U32s({8, 8, 0x3F800000, 0, 16, 0, 0}, false)},
      {"heap, class 3", heapMM, 0x0030080A, QD_OK, 1, names},
      {"heap, converted capture time", heapMM, 0x1100180E, QD_OK, 1, U32s({kLocalDateTime}, false)},
      {"heap, other conversion", heapMM, 0x1200180E, QD_E_NOT_APPLICABLE, 1, {}},
      {"heap, class 6", heapMM, 0x0060180E, QD_E_NOT_APPLICABLE, 1, {}},
      {"heap, absent", heapMM, 0x00001899, QD_E_NOT_APPLICABLE, 1, {}},
      {"heap, empty", heapMM, 0x00300810, QD_E_NOT_APPLICABLE, 1, {}},
      {"Exif TIFF, IFD0 Model", mm.tiff, 0x00020110, QD_OK, 8, model},
      {"Exif JPEG, IFD0 Model", mm.exifJpeg, 0x00020110, QD_OK, 5, model},
      {"Exif JPEG, converted DateTime", mm.exifJpeg, 0x01020132, QD_OK, 5, U32s({kLocalDateTime}, false)},
      {"Exif TIFF, DateTime unconverted", mm.tiff, 0x00020132,  QD_OK, 8,
       Bytes{'2', '0', '0', '1', ':', '0', '2', ':', '0', '3', ' ', '0', '4', ':', '0', '5', ':', '0', '6', 0}},
      {"Exif TIFF, maker note settings", mm.tiff, 0x00430001, QD_OK, 8, U16s({92, 0, 0, 0, 0, 0, 0, 0, 0, 4}, false)},
      {"Exif JPEG, maker note settings", mm.exifJpeg, 0x00430001, QD_OK, 5, U16s({92, 0, 0, 0, 0, 0, 0, 0, 0, 4}, false)},
      {"Exif, another maker's note", other.tiff, 0x00430001, QD_E_OTHER_MAKER, 8, {}},
      {"Exif, no type", mm.tiff, 0x00000110, QD_E_NOT_APPLICABLE, 8, {}},
      {"Exif, absent tag", mm.tiff, 0x00130110, QD_E_NOT_APPLICABLE, 8, {}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    TestStream in(r.file), out;
    uint8_t fileType = 0xEE;
    EXPECT_EQ(QDParseGetSingleProperty(in.stream(), &fileType, r.id, out.stream()), r.result);
    EXPECT_EQ(fileType, r.fileType);
    // The settings array (92 bytes) is compared by its first ten values.
    const Bytes& got = out.data();
    EXPECT_EQ(got.size(), r.id == 0x00430001 && r.result == QD_OK ? 92u : r.value.size());
    EXPECT_EQ(Bytes(got.begin(), got.begin() + std::min(got.size(), r.value.size())), r.value);
    EXPECT_FALSE(in.IsOpen());
    EXPECT_FALSE(out.IsOpen());
    EXPECT_EQ(LiveBlocks(), 0);
  }
  if (savedZone != nullptr) {
    setenv("TZ", saved.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
  TestStream in(Bytes(600, 'x')), out;
  EXPECT_EQ(QDParseGetSingleProperty(in.stream(), nullptr, 0x00001810, nullptr), QD_E_INVALID_ARG);
  EXPECT_NE(QDParseGetSingleProperty(in.stream(), nullptr, 0x00001810, out.stream()), QD_OK);
  EXPECT_EQ(out.TotalCalls(), 0);
}

}  // namespace
}  // namespace qdtest
