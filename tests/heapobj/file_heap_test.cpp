// A file's heap object, its developed form, and the developed-state check.
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "qdparse.h"
#include "heapobj/heapobj_support.h"
#include "support/container_builder.h"
#include "support/fault_sweep.h"
#include "support/jpeg_builder.h"
#include "support/test_stream.h"

namespace qdtest {
namespace {

// A heap file whose image-properties heap holds an image class and, when
// given, an image description (width, height, aspect, value 3, bits, value 5,
// flags).
Bytes ClassAndDescription(bool big, uint32_t imageClass, std::optional<uint32_t> flags) {
  HeapBuilder props(big), root(big);
  props.Data(0x1803, U32s({imageClass, 77}, big));
  if (flags) props.Data(0x1810, U32s({640, 480, 0x3F800000, 9, 8, 3, *flags}, big));
  props.Data(0x0810, {'o', 'w', 'n', 'e', 'r', 0});
  root.Nested(kTypeImageProperties, props);
  return HeapFileBuilder(root).Build();
}

TEST(FileHeap, EveryKindWithAHeapHandsItOverAndOthersAreRefused) {
  const Bytes image = EncodeJpeg();
  const Bytes jpegHeap =
      Insert(image, SegmentOffset(image, marker::kDQT), {HeapApp0(EmbeddedHeapImage(false, "JPGM"))});
  struct Row {
    const char* name;
    Bytes file;
    uint32_t result;
    uint8_t heapClass;
    const char* type;
  } rows[] = {
      {"heap file", HeapFileFixture(true), QD_OK, 1, "CCDR"},
      {"JPEG with a heap", jpegHeap, QD_OK, 2, "JPGM"},
      {"TIFF RAW", BuildTiffFile(RawTiffShape(Order::MM)).bytes, QD_OK, 3, "TIFP"},
      {"Exif TIFF", BuildTiffFile(ExifTiffShape(Order::II)).bytes, QD_E_UNSUPPORTED, 0xEE, ""},
      {"Exif JPEG", AfterSoi(EncodeJpeg(), {App1(App1Payload(BuildTiffFile(ExifTiffShape(Order::II)).bytes))}),
       QD_E_UNSUPPORTED, 0xEE, ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    TestStream in(r.file);
    uint8_t heapClass = 0xEE;
    HeapObject out{};
    JpegSofInfo sof{};
    JfifInfo jfif{};
    TiffImageInfo tiff{};
    EXPECT_EQ(qdParseGetPropHeapObject(in.stream(), &heapClass, &out, &sof, &jfif, &tiff), r.result);
    EXPECT_EQ(heapClass, r.heapClass);
    EXPECT_EQ(in.CountOf(Callback::Open) + in.CountOf(Callback::Close), 0);
    if (r.result == QD_OK) {
      EXPECT_STREQ(out.type, r.type);
      EXPECT_TRUE(Read(out, {0x1817})) << "the image-properties heap";
      EXPECT_EQ(+sof.found, r.heapClass == 2 ? 1 : 0);
      qdParseFreeHeapObject(out);
    }
    EXPECT_EQ(LiveBlocks(), 0);
  }
  TestStream in(HeapFileFixture(false));
  HeapObject out{};
  JpegSofInfo sof{};
  JfifInfo jfif{};
  EXPECT_EQ(qdParseGetPropHeapObject(in.stream(), nullptr, &out, &sof, &jfif, nullptr), QD_E_INVALID_ARG);
  EXPECT_EQ(in.TotalCalls(), 0);
}

TEST(FileHeap, TheDevelopedHeapDescribesTheFullViewAndNamesADevelopedClass) {
  struct Row {
    uint32_t imageClass;
    std::optional<uint32_t> flags;
    uint32_t developedClass;  // 0: no description, the file's own heap comes back
  } rows[] = {
      {0x00020003, 0x0000AB01, 0x10000},  // class 3 with a nonzero flag byte
      {0x00020003, 0x0000AB00, 0x10002},
      {0x00020001, 0x00FF0001, 0x10002},
      {0x00020005, 0x00000000, 0x10000},
      {0x00020001, std::nullopt, 0},
  };
  QdImageInfo image{};
  image.fullWidth = 4000;
  image.fullHeight = 3000;
  image.fullAspect = 1.5f;
  for (bool big : {false, true}) {
    for (const Row& r : rows) {
      SCOPED_TRACE(testing::Message() << big << " class " << r.imageClass);
      TestStream in(ClassAndDescription(big, r.imageClass, r.flags));
      HeapObject out{};
      ASSERT_EQ(qdParseGetHeapObjectDeveloped(in.stream(), &image, 0, 0, &out), QD_OK);
      EXPECT_STREQ(out.type, r.developedClass == 0 ? "CCDR" : "JPGM");
      EXPECT_EQ(+out.bigEndian, big ? 1 : 0);
      if (r.developedClass != 0) {
        EXPECT_EQ(Read(out, {0x1810}), U32s({4000, 3000, 0x3FC00000, 9, 8, 3, *r.flags & 0xFFFF00FFu}, false));
        EXPECT_EQ(Read(out, {0x1803}), U32s({r.developedClass, 77}, false));
        EXPECT_TRUE(Read(out, {0x0810})) << "the other records stay";
      }
      qdParseFreeHeapObject(out);
      EXPECT_EQ(LiveBlocks(), 0);
    }
  }
}

TEST(FileHeap, TheDevelopedStateCanBeClearedOnlyWithAClassAndADescription) {
  const struct {
    const char* name;
    Bytes file;
    uint32_t result;
  } rows[] = {
      {"both records", ClassAndDescription(true, 0x00020003, 0x0000AB00), QD_OK},
      {"no description", ClassAndDescription(false, 0x00020003, std::nullopt), QD_E_UNSUPPORTED},
      {"no image class", HeapFileFixture(false), QD_E_UNSUPPORTED},
      {"Exif TIFF", BuildTiffFile(ExifTiffShape(Order::MM)).bytes, QD_E_UNSUPPORTED},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    TestStream in(r.file);
    EXPECT_EQ(QDParseSetDeveloped(in.stream(), 0, 0), r.result);
    EXPECT_EQ(in.CountOf(Callback::Write) + in.CountOf(Callback::Open), 0);
    EXPECT_EQ(in.data(), r.file);
    EXPECT_EQ(LiveBlocks(), 0);
  }
}

}  // namespace
}  // namespace qdtest
