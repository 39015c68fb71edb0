// The file-type and maker-note queries on every kind of file.
#include <cstring>
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
Bytes HeapCamera(std::optional<uint32_t> imageClass, uint32_t bits, const std::string& maker) {
  HeapBuilder props(false), owner(false), root(false);
  if (imageClass) props.Data(0x1803, U32s({*imageClass, 0}, false));
  props.Data(0x1810, U32s({8, 8, 0x3F800000, 0, bits, 0, 0}, false));
  Bytes names(maker.begin(), maker.end());
  const std::string model = "ARX K24 Pro";
  names.push_back(0);
  names.insert(names.end(), model.begin(), model.end());
  names.resize(64, 0);
  owner.Data(0x080A, names);
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
      ifd0.Ascii(kTagMake, make).Ascii(kTagModel, "ARX K24 Pro").Sub(kTagExifIfd, exif);
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
        EXPECT_EQ(where.length, mm.noteBytes.size());
        EXPECT_EQ(where.byteOrder, 1);
        EXPECT_EQ(where.offset, r.offset);
        EXPECT_EQ(out.data(), withOutput ? mm.noteBytes : Bytes{});
      } else if (r.result == QD_E_NOT_APPLICABLE) {
        EXPECT_EQ(where.length, 0xEEEEEEEEu) << "untouched";
      }
      EXPECT_FALSE(in.IsOpen());
      EXPECT_FALSE(out.IsOpen());
      EXPECT_EQ(LiveBlocks(), 0);
    }
  }
}

}  // namespace
}  // namespace qdtest
