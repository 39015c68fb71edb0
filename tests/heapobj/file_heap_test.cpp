// A file's heap object, its developed form, and the developed-state check.
#include "extract/parse_support.h"
#include "heapobj/heapobj_support.h"

namespace qdtest {
namespace {

// A heap file whose image-properties heap holds an image class and, when
// given, an image description (width, height, aspect, value 3, bits, value 5,
// flags).
Bytes Described(bool big, uint32_t imageClass, std::optional<uint32_t> flags) {
  HeapBuilder props(big), root(big);
  props.Data(0x1803, U32s({imageClass, 77}, big));
  if (flags) props.Data(0x1810, U32s({640, 480, 0x3F800000, 9, 8, 3, *flags}, big));
  props.Data(0x0810, {'o', 'w', 'n', 'e', 'r', 0});
  root.Nested(kTypeImageProperties, props);
  return HeapFileBuilder(root).Build();
}

// Every kind with a heap hands it over; the developed heap describes the full
// view and names a developed class; the developed state can be cleared only
// where the heap has both an image class and a description. Nothing writes.
TEST(FileHeap, EveryKindWithAHeapHandsItOverAndItsDevelopedForm) {
  const Bytes image = EncodeJpeg();
  const Bytes exif = BuildTiffFile(ExifTiffShape(Order::II)).bytes;
  const Bytes jpegHeap = parse::JpegWith({HeapApp0(EmbeddedHeapImage(false, "JPGM"))});
  const uint32_t no = QD_E_UNSUPPORTED;
  const struct {
    const char* name;
    Bytes file;
    uint32_t result;
    uint8_t heapClass;
    const char* type;
    uint32_t clearable;
    uint32_t developed;  // the developed class; 0: no description, the file's own heap
    uint32_t flags;
  } rows[] = {
      {"heap file, no class", HeapFileFixture(true), QD_OK, 1, "CCDR", no, 0, 0},
      {"JPEG with a heap", jpegHeap, QD_OK, 2, "JPGM", no, 0, 0},
      {"TIFF RAW", BuildTiffFile(RawTiffShape(Order::MM)).bytes, QD_OK, 3, "TIFP", no, 0, 0},
      {"Exif TIFF", exif, no, 0xEE, "", no, 0, 0},
      {"Exif JPEG", AfterSoi(image, {App1(App1Payload(exif))}), no, 0xEE, "", no, 0, 0},
      {"class only", Described(false, 0x20001, std::nullopt), QD_OK, 1, "CCDR", no, 0, 0},
      {"class 3, flag byte set", Described(true, 0x20003, 0xAB01), QD_OK, 1, "CCDR", QD_OK, 0x10000,
       0xAB01},
      {"class 3", Described(false, 0x20003, 0xAB00), QD_OK, 1, "CCDR", QD_OK, 0x10002, 0xAB00},
      {"class 1", Described(true, 0x20001, 0xFF0001), QD_OK, 1, "CCDR", QD_OK, 0x10002, 0xFF0001},
      {"class 2", Described(false, 0x20002, 1), QD_OK, 1, "CCDR", QD_OK, 0x10002, 1},
      {"class 5", Described(true, 0x20005, 0), QD_OK, 1, "CCDR", QD_OK, 0x10000, 0},
  };
  const QdImageInfo full{"", 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4000, 3000, 1.5f};  // the full view
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    TestStream in(r.file), again(r.file), developed(r.file);
    uint8_t heapClass = 0xEE;
    HeapObject out{};
    JpegSofInfo sof{};
    JfifInfo jfif{};
    TiffImageInfo tiff{};
    EXPECT_EQ(qdParseGetPropHeapObject(in.stream(), &heapClass, &out, &sof, &jfif, &tiff),
              r.result);
    EXPECT_EQ(heapClass, r.heapClass);
    if (r.result == QD_OK) {
      EXPECT_STREQ(out.type, r.type);
      EXPECT_TRUE(Read(out, {0x0810})) << "the image-properties heap";
      EXPECT_EQ(+sof.found, r.heapClass == 2 ? 1 : 0);
      qdParseFreeHeapObject(out);
    }
    EXPECT_EQ(QDParseSetDeveloped(again.stream(), 0, 0), r.clearable);
    EXPECT_EQ(again.CountOf(Callback::Write), 0);

    EXPECT_EQ(qdParseGetHeapObjectDeveloped(developed.stream(), &full, 0, 0, &out), r.result);
    if (r.result != QD_OK) continue;
    EXPECT_STREQ(out.type, r.developed == 0 ? r.type : "JPGM");
    if (r.developed != 0) {
      const uint32_t flags = r.flags & 0xFFFF00FFu;  // bits 8-15 cleared
      EXPECT_EQ(Read(out, {0x1810}), U32s({4000, 3000, 0x3FC00000, 9, 8, 3, flags}, false));
      EXPECT_EQ(Read(out, {0x1803}), U32s({r.developed, 77}, false));
      EXPECT_TRUE(Read(out, {0x0810})) << "the other records stay";
    }
    qdParseFreeHeapObject(out);
  }
  EXPECT_EQ(LiveBlocks(), 0);
}

}  // namespace
}  // namespace qdtest
