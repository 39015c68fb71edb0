// Heap objects built from a host's descriptions and property records.
#include <cmath>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "qdparse.h"
#include "exifwrite/exif_support.h"
#include "heapobj/heapobj_support.h"
#include "support/container_builder.h"
#include "support/fault_sweep.h"
#include "support/jpeg_builder.h"
#include "support/test_stream.h"

namespace qdtest {
namespace {

uint16_t Word(const Bytes& b, size_t k) { return GetU16(b.data() + 2 * k, false); }

struct Inputs {
  QdImageInfo image{};
  ExifCaptureInfo capture{};
  ExifShotValues shot{-1.0f, 100.0f, 100.0f, -1.0f, 0xFFFF, 0xFF};
};

TEST(HeapCreation, PlainFromAnImageDescriptionOnly) {
  Inputs in;
  std::strcpy(in.image.model, "Vedra Lumaframe T190");
  in.image.format = 9;
  in.image.dataCode = 3;
  in.image.width = 640;
  in.image.height = 480;
  in.image.bitsPerSample = 16;
  in.image.colour = 1;
  in.image.flags = 0x02;
  in.shot.aperture = 5.0f;  // the plain variant writes no arrays
  Bytes coded = {'A', 'S', 'C', 'I', 'I', 0, 0, 0, 2, 0, 0, 0, 'h', 'i'};
  Records records({{0x0B, coded}});
  HeapObject out{};
  ASSERT_EQ(qdParseCreateHeapObject(nullptr, &in.image, nullptr, &in.shot, records.list(), &out), QD_OK);
  EXPECT_STREQ(out.type, "TIFP");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out.block) + 10, 4), "JPGM");
  EXPECT_EQ(Read(out, {0x1803}), U32s({0x30002, 0}, false));
  EXPECT_EQ(Read(out, {0x1810}), U32s({640, 480, 0, 0, 16, 0, 0x101}, false));
  Bytes names = {'V', 'e', 'd', 'r', 'a', 0};
  names.insert(names.end(), in.image.model, in.image.model + std::strlen(in.image.model));
  names.resize(64, 0);
  EXPECT_EQ(Read(out, {0x2807, 0x080A}), names);
  Bytes comment = {'h', 'i'};
  comment.resize(256, 0);
  EXPECT_EQ(Read(out, {0x0805}), comment);
  EXPECT_EQ(Read(out, {0x300B, 0x102A}), std::nullopt);
  qdParseFreeHeapObject(out);

  EXPECT_EQ(LiveBlocks(), 0);
}

TEST(HeapCreation, ShotValuesAndRecordsFillTheTwoArrays) {
  struct Row {
    const char* name;
    ExifShotValues shot;
    RecordList records;
    size_t array;  // 0x102A (A) or 0x102D (B) value checked
    uint16_t type;
    uint16_t value;
  } rows[] = {
      {"speed 100 by the table", {-1, 100, 100, -1, 0xFFFF, 0xFF}, {{0x0C, U16s({100}, false)}}, 2, 0x102A,
       0xA0},
      {"speed 125 by the formula", {-1, 100, 100, -1, 0xFFFF, 0xFF}, {{0x0C, U16s({125}, false)}}, 2, 0x102A,
       170},
      {"speed value kept with its flag", {-1, 100, 100, -1, 0xFFFF, 0xFF}, {{0x0C, U16s({125}, false)}}, 16,
       0x102D, 0x4000 | 125},
      {"aperture in 1/32 steps", {5.0f, 100, 100, -1, 0xFFFF, 0xFF}, {}, 4, 0x102A, 160},
      {"negative compensation rounds away", {-1, 100, -1.0f / 3, -1, 0xFFFF, 0xFF}, {}, 6, 0x102A,
       static_cast<uint16_t>(-11)},
      {"flag 0 is setting 2", {-1, 100, 100, -1, 0xFFFF, 0}, {}, 1, 0x102D, 2},
      {"a later record wins", {-1, 100, 100, -1, 0xFFFF, 0xFF},
       {{0x0F, U16s({7}, false)}, {0x0F, U16s({9}, false)}}, 4, 0x102D, 9},
      {"a settings run as far as its length", {-1, 100, 100, -1, 0xFFFF, 0xFF},
       {{0x0A, U16s({6, 1, 2, 3, 4}, false)}}, 12, 0x102D, 0},
      {"a settings run's speed", {-1, 100, 100, -1, 0xFFFF, 0xFF},
       {{0x0A, U16s({16, 1, 2, 3, 4, 5, 6, 0x4000 | 400}, false)}}, 2, 0x102A, 224},
      {"a settings run's speed setting", {-1, 100, 100, -1, 0xFFFF, 0xFF},
       {{0x0A, U16s({16, 1, 2, 3, 4, 5, 6, 0x4000 | 400}, false)}}, 16, 0x102D, 0x4000 | 400},
  };
  for (Row& r : rows) {
    SCOPED_TRACE(r.name);
    Inputs in;
    Records records(r.records);
    HeapObject out{};
    ASSERT_EQ(qdParseCreateHeapObjectEx(nullptr, nullptr, nullptr, &r.shot, records.list(), &out), QD_OK);
    const std::optional<Bytes> array = Read(out, {0x300B, r.type});
    ASSERT_TRUE(array.has_value());
    EXPECT_EQ(Word(*array, r.array), r.value);
    EXPECT_EQ(Word(*array, 0), array->size());
    qdParseFreeHeapObject(out);
  }
  // Aperture -1 and shutter speed 100 write nothing.
  Inputs in;
  HeapObject out{};
  ASSERT_EQ(qdParseCreateHeapObjectEx(nullptr, nullptr, nullptr, &in.shot, nullptr, &out), QD_OK);
  EXPECT_EQ(Read(out, {0x300B, 0x102A}), std::nullopt);
  qdParseFreeHeapObject(out);
  EXPECT_EQ(LiveBlocks(), 0);
}

TEST(HeapCreation, ASourceFileGivesTheStartingProperties) {
  const Bytes image = EncodeJpeg();
  HeapBuilder props(true);
  props.Data(0x0805, {'o', 'l', 'd', 0});
  props.Data(0x0810, {'o', 'w', 'n', 'e', 'r', 0});
  HeapFileBuilder heapImage(props);
  heapImage.Subtype("JPGM");
  const Bytes withHeap = Insert(image, SegmentOffset(image, marker::kDQT), {HeapApp0(heapImage.Build())});
  const Bytes exif = AfterSoi(image, {App1(App1Payload(BuildTiffFile(ExifTiffShape(Order::II)).bytes))});
  for (bool fromHeap : {true, false}) {
    SCOPED_TRACE(fromHeap ? "JPEG with a heap" : "Exif JPEG: ignored");
    TestStream source(fromHeap ? withHeap : exif);
    HeapObject out{};
    ASSERT_EQ(qdParseCreateHeapObjectEx2(source.stream(), nullptr, nullptr, nullptr, nullptr, &out, nullptr),
              QD_OK);
    EXPECT_EQ(+out.bigEndian, fromHeap ? 1 : 0);
    EXPECT_EQ(Read(out, {0x0810}).has_value(), fromHeap) << "the source heap's own record";
    EXPECT_EQ(Read(out, {0x0805}), Bytes(256, 0)) << "the source's comment never carries over";
    EXPECT_EQ(source.CountOf(Callback::Open), 0);
    qdParseFreeHeapObject(out);
  }
  HeapObjectSupplement thumb{7, 2, 8, 24, 1, 160, 120, 1.9f, 180, 180};
  HeapObject out{};
  ASSERT_EQ(qdParseCreateHeapObjectEx2(nullptr, nullptr, nullptr, nullptr, nullptr, &out, &thumb), QD_OK);
  EXPECT_EQ(Read(out, {0x300B, 0x183D}), std::nullopt) << "only the arrays bring the maker heap";
  qdParseFreeHeapObject(out);
  EXPECT_EQ(LiveBlocks(), 0);
}

// What the parse reports of a file: the descriptions and the property
// records (code -> payload).
struct Parsed {
  QdThumbnailInfo thumb{};
  QdImageInfo image{};
  QdAuxImageInfo aux{};
  ExifCaptureInfo capture{};
  ExifShotValues shot{};
  std::map<uint16_t, Bytes> records;
  RecordList written;  // in the order written, for the creation call
};

Parsed Parse(const Bytes& file) {
  Parsed p;
  TestStream in(file), properties;
  EXPECT_EQ(QDParseThumbnailFileStreamEx2(in.stream(), static_cast<uint32_t>(file.size()), &p.thumb, &p.image,
                                          &p.aux, &p.capture, &p.shot, nullptr, nullptr, properties.stream(),
                                          nullptr),
            QD_OK);
  const Bytes& b = properties.data();
  for (size_t at = 0; at + 6 <= b.size();) {
    const uint16_t code = GetU16(b.data() + at, false);
    const uint32_t size = GetU32(b.data() + at + 2, false);
    p.records[code] = Bytes(b.begin() + at + 6, b.begin() + at + 6 + size);
    p.written.emplace_back(code, p.records[code]);
    at += 6 + size;
  }
  return p;
}

// An Exif JPEG from the library's writer, with the values a camera records.
Bytes CameraExifJpeg() {
  ExifImageInfo image = Image("Vedra Lumaframe T270", 40, 24, 180);
  image.valid = 5;
  image.bitsPerSample = 8;
  image.bitsPerPixel = 24;
  image.colour = 1;
  image.aspect = 1.0f;
  ExifCaptureInfo capture{981173106, 1000125, "Owner", "IMAGE TYPE"};
  ExifShotValues shot{5.0f, 7.0f, -1.0f / 3, 1.0f, 500, 1};
  Records records({{0x0C, U16s({200}, false)}, {0x2D, U32s({1, 125}, false)}, {0x2E, U32s({57, 10}, false)},
                   {0x0F, U16s({3}, false)}, {0x3A, U32s({0x80000270}, false)}});
  TiffBlockInfo block{};
  EXPECT_EQ(qdParseCreateExifPropBufferEx(&image, &capture, &shot, records.list(), &block), QD_OK);
  const Bytes payload(block.segment, block.tiff + block.tiffSize);
  (void)qdParseFreeExifBuffer(&block);
  return AfterSoi(EncodeJpeg(), {App1(payload)});
}

// The descriptions and records the Exif path reports, made into a heap
// object and stored in a JPEG's APP0 segment, read back through the heap
// path. The heap takes the byte order of its source: none (II) or an empty
// big-endian heap.
TEST(HeapCreation, WhatAnExifJpegReportsComesBackThroughTheHeapPath) {
  const Parsed exif = Parse(CameraExifJpeg());
  ASSERT_FALSE(exif.records.empty());
  const Bytes image = EncodeJpeg();
  HeapFileBuilder emptyBig(HeapBuilder(true));
  emptyBig.Subtype("JPGM");
  const Bytes bigSource = Insert(image, SegmentOffset(image, marker::kDQT), {HeapApp0(emptyBig.Build())});
  for (bool big : {false, true}) {
    SCOPED_TRACE(big ? "MM" : "II");
    Records records(exif.written);
    TestStream source(bigSource);
    HeapObject out{};
    QdImageInfo described = exif.image;
    ExifCaptureInfo capture = exif.capture;
    ExifShotValues shot = exif.shot;
    ASSERT_EQ(qdParseCreateHeapObjectEx2(big ? source.stream() : nullptr, &described, &capture, &shot,
                                         records.list(), &out, nullptr),
              QD_OK);
    EXPECT_EQ(+out.bigEndian, big ? 1 : 0);
    const Bytes heapImage(out.block, out.block + out.headerLength + out.heapLength);
    qdParseFreeHeapObject(out);
    const Parsed back = Parse(Insert(image, SegmentOffset(image, marker::kDQT), {HeapApp0(heapImage)}));

    EXPECT_STREQ(back.image.model, exif.image.model);
    EXPECT_EQ(back.image.width, exif.image.width);
    EXPECT_EQ(back.image.height, exif.image.height);
    EXPECT_EQ(back.capture.time, exif.capture.time);
    EXPECT_EQ(back.capture.fileNumber, exif.capture.fileNumber);
    EXPECT_STREQ(back.capture.owner, exif.capture.owner);
    EXPECT_STREQ(back.capture.imageType, exif.capture.imageType);
    EXPECT_NEAR(back.shot.aperture, exif.shot.aperture, 1.0 / 32);
    EXPECT_NEAR(back.shot.shutterSpeed, exif.shot.shutterSpeed, 1.0 / 32);
    EXPECT_NEAR(back.shot.exposureCompensation, exif.shot.exposureCompensation, 1.0 / 32);
    EXPECT_EQ(back.shot.settingWord, exif.shot.settingWord);
    EXPECT_EQ(back.shot.settingFlag, exif.shot.settingFlag);
    // Values the heap has no record for: they stay Exif-only.
    static const std::map<uint16_t, const char*> kExifOnly = {
        {0x0C, "ISO speed: creation puts it in settings word 16, and a heap path reports it there"},
        {0x2D, "exposure time rational"}, {0x2E, "f-number rational"}, {0x2F, "shutter speed rational"},
        {0x30, "aperture rational"}, {0x31, "exposure bias rational"}, {0x33, "Exif version"},
        {0x39, "ColorSpace tag"}, {0x8C, "maker-note tag 0x0019"}, {0x105, "colour space from ColorSpace"}};
    for (const auto& [code, payload] : exif.records) {
      if (kExifOnly.count(code) != 0) continue;
      Bytes want = payload;
      if (code == 0x0A) PutU16(want, 2 * 7, 0x4000 | 200, false);  // word 16: the ISO speed, as above
      const auto it = back.records.find(code);
      ASSERT_NE(it, back.records.end()) << "record 0x" << std::hex << code << " does not come back";
      EXPECT_EQ(it->second, want) << "record 0x" << std::hex << code;
    }
    EXPECT_EQ(LiveBlocks(), 0);
  }
}

}  // namespace
}  // namespace qdtest
