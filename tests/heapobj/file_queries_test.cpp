// The file-type, maker-note and single-property queries on every kind of file.
#include <algorithm>
#include <cstring>
#include <string>

#include "extract/parse_support.h"
#include "heapobj/heapobj_support.h"

namespace qdtest {
namespace {

using namespace std::string_literals;

// A heap file: image class (when given), a description with `bits` per
// sample, a capture time, and the maker and model names one after the other.
Bytes HeapCamera(std::optional<uint32_t> imageClass, uint32_t bits, const std::string& maker,
                 bool big = false) {
  parse::HeapContent c = {{0x1810, U32s({8, 8, 0x3F800000, 0, bits, 0, 0}, big)},
                          {0x180E, U32s({981173106 + 3600, 3600, 0}, big)},
                          {0x080A, parse::Text(maker + '\0' + "ARX K24 Pro")}, {0x0810, {}}};
  if (imageClass) c[0x1803] = U32s({*imageClass, 0}, big);
  return parse::HeapFile(c, big);
}

// An Exif TIFF, and an Exif JPEG around it, whose maker note holds camera
// settings with value 0 (their length) `length` and value 9 `kind`.
struct ExifCamera {
  ExifCamera(Order order, const std::string& make, uint16_t kind, uint16_t length = 92,
             uint32_t countField = 0)
      : order(order) {
    std::vector<uint16_t> settings = {length, 0, 0, 0, 0, 0, 0, 0, 0, kind};
    settings.resize(46);
    TiffBuilder note(order);
    note.NewIfd().Short(1, settings);
    for (int pass = 0; pass < 2; ++pass) {  // the second pass knows where the note lands
      TiffBuilder b(order);
      TiffIfd& ifd0 = b.NewIfd();
      TiffIfd& exif = b.NewIfd();
      noteBytes = note.MakerNote(noteAt, false);
      exif.Undefined(kTagMakerNote, noteBytes);
      if (countField != 0) exif.CountField(countField);
      ifd0.Ascii(0x010F, make).Ascii(0x0110, "ARX K24 Pro").Ascii(0x0132, "2001:02:03 04:05:06");
      ifd0.Sub(kTagExifIfd, exif);
      const TiffImage image = b.Pad(400).Build();
      noteAt = image.ValueOffset(exif, kTagMakerNote);
      tiff = image.bytes;
    }
    exifJpeg = AfterSoi(EncodeJpeg(), {App1(App1Payload(tiff))});
  }
  Order order;
  Bytes tiff, exifJpeg, noteBytes;
  uint32_t noteAt = 0;
};

// The file type and camera of every kind, and where the camera maker's note
// lies (copied out when asked).
TEST(FileQueries, FormatCodeCameraAndMakerNoteOfEveryKind) {
  const ExifCamera ii(Order::II, "VEDRA", 4), mm(Order::MM, "Vedra", 3);
  const ExifCamera other(Order::II, "Maker", 4), five(Order::MM, "Vedra", 5);
  const ExifCamera shortSettings(Order::II, "Vedra", 4, 18);
  const ExifCamera past(Order::II, "Vedra", 1, 92, 0x7FFFFFF0);  // kind 1: Exif JPEG
  TiffBuilder plain(Order::MM);
  plain.NewIfd().Ascii(0x010F, "Vedra").Ascii(0x0110, "ARX K1600Q");
  const char* k24 = "ARX K24 Pro";
  const uint32_t none = QD_E_NOT_APPLICABLE;
  const struct {
    const char* name;
    Bytes file;
    uint32_t result;
    uint8_t format;
    const char* maker;
    const char* model;
    const ExifCamera* note;  // where the note is found
    uint32_t noteResult;
  } rows[] = {
      {"heap, 16 bits", HeapCamera(0x30000, 16, "Vedra"), QD_OK, 9, "Vedra", k24, nullptr, none},
      {"heap, class 3", HeapCamera(0x30001, 8, "Vedra"), QD_OK, 3, "Vedra", k24, nullptr, none},
      {"heap, class 1", HeapCamera(0x10000, 16, "Vedra"), QD_OK, 2, "Vedra", k24, nullptr, none},
      {"heap, class 7", HeapCamera(0x70000, 16, "Vedra"), QD_OK, 0, "Vedra", k24, nullptr, none},
      {"heap, no class", HeapCamera({}, 8, "vedra"), QD_OK, 2, "vedra", k24, nullptr, none},
      {"heap, other maker", HeapCamera({}, 8, "Maker"), none, 0, "Maker", k24, nullptr, none},
      {"heap, maker name of 63", HeapCamera(0x10000, 8, std::string(63, 'x')), QD_E_UNSUPPORTED, 0,
       "", "", nullptr, none},
      {"Exif TIFF, settings kind 4", ii.tiff, QD_OK, 11, "VEDRA", k24, &ii, QD_OK},
      {"Exif TIFF, settings kind 3", mm.tiff, QD_OK, 10, "Vedra", k24, &mm, QD_OK},
      {"Exif TIFF, kind 5", five.tiff, QD_OK, 11, "Vedra", k24, &five, QD_OK},
      {"Exif JPEG, kind 5", five.exifJpeg, QD_OK, 5, "Vedra", k24, &five, QD_OK},
      {"Exif TIFF, short settings", shortSettings.tiff, QD_OK, 8, "Vedra", k24, &shortSettings,
       QD_OK},
      {"Exif TIFF, other maker", other.tiff, QD_OK, 8, "Maker", k24, nullptr, QD_E_OTHER_MAKER},
      // Only the copy checks the note's range; in memory the walk does not
      // even locate a value that leaves the block.
      {"Exif TIFF, note past the end", past.tiff, QD_OK, 5, "Vedra", k24, nullptr,
       QD_E_OUT_OF_RANGE},
      {"Exif JPEG, note past the end", past.exifJpeg, QD_OK, 5, "Vedra", k24, nullptr, none},
      {"plain TIFF", plain.Pad(400).Build().bytes, QD_OK, 12, "Vedra", "ARX K1600Q", nullptr, none},
      {"not a camera file", Bytes(600, 'x'), none, 0, "", "", nullptr, none},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    TestStream in(r.file), again(r.file), copied(r.file), out;
    uint8_t format = 0xEE;
    char model[32] = "left over", maker[32] = "left over";
    EXPECT_EQ(qdParseGetFileType(in.stream(), &format, model, maker), r.result);
    EXPECT_EQ(format, r.format);
    EXPECT_STREQ(maker, r.maker);
    EXPECT_STREQ(model, r.model);

    MakerNoteLocation where, copy;
    std::memset(&where, 0xEE, sizeof where);
    EXPECT_EQ(qdParseGetDCFMakerNote(again.stream(), &where, nullptr),
              r.noteResult == QD_E_OUT_OF_RANGE ? QD_OK : r.noteResult);
    EXPECT_EQ(qdParseGetDCFMakerNote(copied.stream(), &copy, out.stream()), r.noteResult);
    if (r.note != nullptr) {
      EXPECT_EQ(+where.length, r.note->noteBytes.size());
      EXPECT_EQ(+where.byteOrder, r.note->order == Order::MM ? 1 : 0);
      EXPECT_EQ(+where.offset, r.note->noteAt);
      EXPECT_EQ(out.data(), r.note->noteBytes);
    } else if (r.noteResult == none) {
      EXPECT_EQ(+where.length, 0xEEEEEEEEu) << "untouched";
    }
  }
  EXPECT_EQ(LiveBlocks(), 0);
}

// Times are read in the zone EST5 (UTC-5, no summer time): 2001-02-03
// 04:05:06 there is 981191106 seconds since 1970.
class SingleProperty : public parse::ParseTest {};

TEST_F(SingleProperty, OneValueByIdentifierFromEveryKind) {
  Zone("EST5");
  const ExifCamera mm(Order::MM, "Vedra", 4), other(Order::II, "Maker", 4);
  const Bytes heap = HeapCamera(0x30000, 16, "Vedra", true), time = U32s({981191106}, false);
  const Bytes settings = U16s({92, 0, 0, 0, 0, 0, 0, 0, 0, 4}, false);
  HeapBuilder owner, properties, root;  // no capture, firmware or maker heap
  owner.Data(0x0810, {'o', 0});
  properties.Nested(0x2807, owner);
  root.Nested(kTypeImageProperties, properties);
  const Bytes sparse = HeapFileBuilder(root).Build();
  const struct {
    const char* name;
    const Bytes& file;
    uint32_t id;
    uint32_t result;
    uint8_t fileType;
    Bytes value;  // a longer value is compared by its first bytes
  } rows[] = {
      {"heap record, native order", heap, 0x00001810, QD_OK, 1,
       U32s({8, 8, 0x3F800000, 0, 16, 0, 0}, false)},
      {"heap, class 3", heap, 0x0030080A, QD_OK, 1, parse::Text("Vedra\0ARX K24 Pro"s)},
      {"heap, converted capture time", heap, 0x1100180E, QD_OK, 1, time},
      {"heap, other conversion", heap, 0x1200180E, QD_E_NOT_APPLICABLE, 1, {}},
      {"heap, class 6", heap, 0x0060180E, QD_E_NOT_APPLICABLE, 1, {}},
      {"heap, absent", heap, 0x00001899, QD_E_NOT_APPLICABLE, 1, {}},
      {"heap, empty", heap, 0x00300810, QD_E_NOT_APPLICABLE, 1, {}},
      {"heap, nested heap absent", sparse, 0x0040180B, QD_E_NOT_APPLICABLE, 1, {}},
      {"Exif TIFF, IFD0 Model", mm.tiff, 0x00020110, QD_OK, 8, parse::Text("ARX K24 Pro")},
      {"Exif JPEG, converted DateTime", mm.exifJpeg, 0x01020132, QD_OK, 5, time},
      {"Exif TIFF, maker note settings", mm.tiff, 0x00430001, QD_OK, 8, settings},
      {"Exif, another maker's note", other.tiff, 0x00430001, QD_E_OTHER_MAKER, 8, {}},
      {"Exif, no type", mm.tiff, 0x00000110, QD_E_NOT_APPLICABLE, 8, {}},
      {"Exif, absent tag", mm.tiff, 0x00130110, QD_E_NOT_APPLICABLE, 8, {}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    TestStream in(r.file), out;
    uint8_t fileType = 0xEE;
    EXPECT_EQ(QDParseGetSingleProperty(in.stream(), &fileType, r.id, out.stream()), r.result);
    EXPECT_EQ(fileType, r.fileType);
    const Bytes& got = out.data();
    EXPECT_EQ(got.size(), r.id == 0x00430001 && r.result == QD_OK ? 92u : r.value.size());
    EXPECT_EQ(Bytes(got.begin(), got.begin() + std::min(got.size(), r.value.size())), r.value);
  }
}

}  // namespace
}  // namespace qdtest
