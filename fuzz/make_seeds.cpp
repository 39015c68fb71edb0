// Writes the seed corpus of every fuzz target from the test builders:
//   qdparse_fuzz_seeds fuzz/corpus
// Run it again when the fixtures change; the corpus is committed.
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "qdparse.h"
#include "extract/parse_support.h"
#include "heap/walk_support.h"
#include "support/camera_jpeg.h"
#include "support/container_builder.h"
#include "support/heap_builder.h"
#include "support/jpeg_builder.h"
#include "support/tiff_builder.h"
#include "support/wave_builder.h"

namespace {

using qdtest::Bytes;

std::string root;

void Write(const std::string& target, const std::string& name, const Bytes& bytes) {
  const std::string dir = root + "/" + target;
  mkdir(dir.c_str(), 0755);
  FILE* f = std::fopen((dir + "/" + name).c_str(), "wb");
  if (f == nullptr) return;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

Bytes Prefixed(const Bytes& prefix, const Bytes& rest) {
  Bytes out = prefix;
  out.insert(out.end(), rest.begin(), rest.end());
  return out;
}

// An Exif block from the library's own writer, without its 6-byte signature.
Bytes ExifTiff(bool withThumbnail) {
  ExifImageInfo image{};
  std::strcpy(image.model, "Vedra QX-10");
  image.valid = 1;
  image.width = 64;
  image.height = 48;
  image.xResolution = image.yResolution = 72;
  const Bytes thumb = qdtest::EncodeJpeg({16, 12, 3, 0x22, false, false});
  Bytes record(6 + thumb.size());
  const uint16_t code = 0x05;
  const auto size = static_cast<uint32_t>(thumb.size());
  std::memcpy(record.data(), &code, 2);
  std::memcpy(record.data() + 2, &size, 4);
  std::memcpy(record.data() + 6, thumb.data(), thumb.size());
  PropertyRecord* records[] = {reinterpret_cast<PropertyRecord*>(record.data()), nullptr};
  TiffBlockInfo block{};
  if (qdParseCreateExifPropBufferEx(&image, nullptr, nullptr, withThumbnail ? records : nullptr, &block) != 0) return {};
  Bytes tiff(block.tiff, block.tiff + block.tiffSize);
  qdParseFreeExifBuffer(&block);
  return tiff;
}

// The input of exif_writer_fuzzer as its FuzzedDataProvider reads it: bytes
// from the front, integers from the back (the first one read is the last
// byte, and an integer's high byte is read first).
class ProviderInput {
 public:
  void Integer(uint32_t v, unsigned bytes) {
    for (unsigned i = bytes; i-- > 0;) back_.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  void Data(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    front_.insert(front_.end(), b, b + n);
  }
  void Record(uint16_t code, const Bytes& payload) {
    Integer(code, 2);
    Integer(static_cast<uint32_t>(payload.size()), 2);
    Data(payload.data(), payload.size());
  }
  Bytes Build() const {
    Bytes out = front_;
    out.insert(out.end(), back_.rbegin(), back_.rend());
    return out;
  }

 private:
  Bytes front_, back_;
};

Bytes Le(std::initializer_list<uint32_t> words, unsigned width = 4) {
  Bytes out;
  for (uint32_t w : words) {
    for (unsigned i = 0; i < width; ++i) out.push_back(static_cast<uint8_t>(w >> (8 * i)));
  }
  return out;
}

Bytes Text(const char* s) { return Bytes(s, s + std::strlen(s)); }

// Flags (image, capture, shot given; big-endian maker note), the three
// records, then property records.
Bytes WriterInput(uint8_t flags, const char* model, const ExifShotValues& shot,
                  std::initializer_list<std::pair<uint16_t, Bytes>> records) {
  ExifImageInfo image{};
  std::strcpy(image.model, model);
  image.valid = 1;
  image.width = 640;
  image.height = 480;
  image.xResolution = image.yResolution = 72;
  ExifCaptureInfo capture{};
  capture.time = 1000000000;
  capture.fileNumber = 1001234;
  std::strcpy(capture.owner, "Owner");
  std::strcpy(capture.imageType, "IMG:QX-10 JPEG");
  ProviderInput in;
  in.Integer(flags, 1);
  in.Data(&image, sizeof image);
  in.Data(&capture, sizeof capture);
  in.Data(&shot, sizeof shot);
  for (const auto& [code, payload] : records) in.Record(code, payload);
  return in.Build();
}

// The input of replace_fuzzer: the file, then the caller's inputs as its
// FuzzedDataProvider reads them (flags: image, second image, capture, shot
// values given; the single property's identifier and value; the records),
// then their length in two bytes.
Bytes ReplaceInput(const Bytes& file, uint8_t flags, uint32_t id, const Bytes& value,
                   std::initializer_list<std::pair<uint16_t, Bytes>> records) {
  ExifImageInfo image{};
  std::strcpy(image.model, "Vedra QX-10");
  image.valid = 1;
  image.width = 800;
  image.height = 600;
  image.xResolution = image.yResolution = 180;
  QdAuxImageInfo second{};
  std::memcpy(&second, &image, sizeof image);
  second.width = 1600;
  ExifCaptureInfo capture{};
  capture.time = 1200000000;
  capture.fileNumber = 1004321;
  std::strcpy(capture.owner, "New Owner");
  std::strcpy(capture.imageType, "IMG:QX-10 JPEG");
  const ExifShotValues shot{4.0f, 9.0f, 0.5f, -1.0f, 400, 0};
  ProviderInput in;
  in.Integer(flags, 1);
  in.Integer(id, 4);
  in.Integer(static_cast<uint32_t>(value.size()), 2);
  in.Data(value.data(), value.size());
  in.Data(&image, sizeof image);
  in.Data(&second, sizeof second);
  in.Data(&capture, sizeof capture);
  in.Data(&shot, sizeof shot);
  for (const auto& [code, payload] : records) in.Record(code, payload);
  const Bytes params = in.Build();
  Bytes out = Prefixed(file, params);
  out.push_back(static_cast<uint8_t>(params.size()));
  out.push_back(static_cast<uint8_t>(params.size() >> 8));
  return out;
}

// The heap APP0 counts only after the JFIF header.
Bytes HeapAfterJfif(const Bytes& app0) {
  const Bytes jpeg = qdtest::EncodeJpeg();
  return qdtest::Insert(jpeg, qdtest::SegmentOffset(jpeg, qdtest::marker::kDQT), {app0});
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 2;
  }
  root = argv[1];
  mkdir(root.c_str(), 0755);

  for (bool be : {false, true}) {
    const std::string o = be ? "mm" : "ii";
    const qdtest::Order order = be ? qdtest::Order::MM : qdtest::Order::II;
    const Bytes heapFile = qdtest::HeapFileFixture(be);
    const Bytes properties = qdtest::ImagePropertiesHeap(be).Build();
    Write("heap_walk_fuzzer", "properties-" + o, Prefixed({static_cast<uint8_t>(be)}, properties));
    Write("heap_walk_fuzzer", "nested-" + o, Prefixed({static_cast<uint8_t>(be)}, qdtest::NestedHeap(be).bytes));

    qdtest::TiffShape raw = qdtest::RawTiffShape(order);
    raw.make = "Vedra";
    raw.model = "Vedra ARX K1600Q";
    raw.iptc = {0x1C, 0x02, 0x00, 0x00, 0x02, 0x00, 0x04};
    const Bytes rawFile = qdtest::BuildTiffFile(raw).bytes;
    const Bytes exifTiffFile = qdtest::BuildTiffFile(qdtest::ExifTiffShape(order)).bytes;
    Write("ifd_walk_fuzzer", "raw-" + o, rawFile);
    Write("ifd_walk_fuzzer", "exif-tiff-" + o, exifTiffFile);
    Write("recognize_fuzzer", "heap-file-" + o, heapFile);
    Write("recognize_fuzzer", "raw-" + o, rawFile);
    Write("recognize_fuzzer", "exif-tiff-" + o, exifTiffFile);
    Write("recognize_fuzzer", "jpeg-heap-" + o,
          HeapAfterJfif(qdtest::HeapApp0(qdtest::HeapFileFixture(be, "JPGM"))));
  }

  // The parse export: one file of each kind, in both byte orders where the
  // kind has them, rich enough to reach every record of its path.
  for (bool be : {false, true}) {
    namespace parse = qdtest::parse;
    const std::string o = be ? "mm" : "ii";
    Write("parse_fuzzer", "heap-file-" + o, parse::HeapFile(parse::RichHeap(be), be));
    Write("parse_fuzzer", "jpeg-heap-" + o, parse::JpegHeap(parse::RichHeap(be), be));
    Write("parse_fuzzer", "tiff-raw-" + o, parse::TiffRaw(parse::RichHeap(be), be));
    Write("parse_fuzzer", "exif-jpeg-" + o, parse::RichExifJpeg(be));
    Write("parse_fuzzer", "exif-tiff-" + o, parse::RawExifTiff(be ? qdtest::Order::MM : qdtest::Order::II).file);
  }

  const Bytes exif = ExifTiff(true);
  Write("ifd_walk_fuzzer", "exif-block", exif);
  Write("exif_property_fuzzer", "exif-block", Prefixed({0, 0, 0, 0, 0, 0, 0, 0}, exif));
  Write("exif_property_fuzzer", "exif-block-plain", Prefixed({0, 0, 0, 0, 0, 0, 0, 0}, ExifTiff(false)));

  const Bytes app1 = qdtest::App1(qdtest::App1Payload(exif));
  const Bytes icc = qdtest::IccApp2(1, 1, Bytes(40, 0x11));
  const Bytes iim = qdtest::IimApp13({0x1C, 0x02, 0x78, 0x00, 0x03, 'a', 'b', 'c'});
  const Bytes rich = qdtest::AfterSoi(qdtest::EncodeJpeg(), {app1, icc, iim});
  Write("recognize_fuzzer", "exif-jpeg", rich);
  Write("jpeg_info_fuzzer", "exif-jpeg", rich);
  Write("jpeg_info_fuzzer", "grey", qdtest::EncodeJpeg({24, 16, 1, 0x11, false, true}));
  Write("jpeg_info_fuzzer", "progressive", qdtest::EncodeJpeg({24, 16, 3, 0x21, true, true}));

  // Sound: memos as the cameras write them and two others, each followed by
  // the file name the estimate reads from the input's last 12 bytes.
  const std::pair<const char*, qdtest::WaveShape> memos[] = {
      {"memo", {}},
      {"stereo-16", {1, 2, 44100, 176400, 4, 16, 18, false, 200}},
      {"list-first", {1, 1, 11000, 11000, 1, 8, 16, true, 64}},
  };
  for (const auto& [name, shape] : memos) {
    Write("sound_fuzzer", name, Prefixed(qdtest::BuildWave(shape), Text("MVI_0123.WAV")));
  }

  // RAW sub-streams: {u32 offset, u32 length, flags} and the file.
  const auto subStream = [](uint32_t offset, uint32_t length, uint8_t flags, const Bytes& file) {
    Bytes prefix = Le({offset, length});
    prefix.push_back(flags);
    return Prefixed(prefix, file);
  };
  for (bool be : {false, true}) {
    const std::string o = be ? "mm" : "ii";
    qdtest::HeapBuilder root(be);
    root.Data(0x0805, {'c', 0});
    root.Data(0x2007, qdtest::EncodeJpeg({32, 24, 3, 0x21, false, true}));
    root.Data(0x2008, qdtest::EncodeJpeg({16, 12, 1, 0x11, false, true}));
    Write("raw_substream_fuzzer", "heap-file-" + o, subStream(0, 16, 1, qdtest::HeapFileBuilder(root).Build()));
    const qdtest::Order order = be ? qdtest::Order::MM : qdtest::Order::II;
    const qdtest::TiffFile exifTiff = qdtest::BuildTiffFile(qdtest::ExifTiffShape(order));
    Write("raw_substream_fuzzer", "exif-tiff-" + o, subStream(exifTiff.strip, exifTiff.stripSize, 0, exifTiff.bytes));
    namespace parse = qdtest::parse;
    Write("raw_substream_fuzzer", "tiff-raw-" + o, subStream(8, 64, 0x31, parse::TiffRaw(parse::RichHeap(be), be)));
  }

  // Replacement: each kind with the changes a user makes, a single value
  // where the file has one, and each file alone.
  for (bool be : {false, true}) {
    namespace parse = qdtest::parse;
    const std::string o = be ? "mm" : "ii";
    const std::pair<const char*, Bytes> files[] = {
        {"heap-file-", parse::HeapFile(parse::RichHeap(be), be)},
        {"jpeg-heap-", parse::JpegHeap(parse::RichHeap(be), be)},
        {"tiff-raw-", parse::TiffRaw(parse::RichHeap(be), be)},
        {"exif-jpeg-", parse::RichExifJpeg(be)},
        {"exif-tiff-", parse::RawExifTiff(be ? qdtest::Order::MM : qdtest::Order::II).file},
    };
    for (const auto& [kind, file] : files) {
      const bool heap = kind[0] != 'e';
      Write("replace_fuzzer", kind + o, file);
      Write("replace_fuzzer", kind + o + "-changes",
            ReplaceInput(file, be ? 0x0F : 0x0D, heap ? 0x0040180B : 0x01129003, Le({1300000000}),
                         {{0x01, Text("A new comment")},
                          {0x07, Le({180, 0}, 4)},
                          {0x0C, Le({400}, 2)},
                          {0x2D, Le({1, 60})},
                          {0x2E, Le({56, 10})},
                          {0x02, Le({3, 4}, 2)},
                          {0x0B, Prefixed({'A', 'S', 'C', 'I', 'I', 0, 0, 0}, Prefixed(Le({3}), Text("xyz")))}}));
      Write("replace_fuzzer", kind + o + "-single",
            ReplaceInput(file, 0, heap ? 0x00001817 : 0x00430001, Le({0x00010002, 0x00030004}), {}));
    }
  }

  // Exif writer: typical record sets.
  ExifShotValues shot{};
  shot.aperture = 3.0f;
  shot.shutterSpeed = 6.0f;
  shot.exposureCompensation = -0.5f;
  shot.additionalEv = -1.0f;
  shot.settingWord = 200;
  shot.settingFlag = 1;
  ExifShotValues absent{-1.0f, 100.0f, 100.0f, -1.0f, 0xFFFF, 0xFF};
  const Bytes thumb = qdtest::EncodeJpeg({16, 12, 3, 0x22, false, false});
  Write("exif_writer_fuzzer", "typical",
        WriterInput(7, "Vedra QX-10", shot,
                    {{0x01, Text("A user comment")},
                     {0x07, Le({90, 0}, 4)},
                     {0x0C, Le({200}, 2)},
                     {0x2D, Le({1, 250})},
                     {0x2E, Le({28, 10})},
                     {0x32, Le({16}, 2)},
                     {0x33, Text("0220")},
                     {0x0A, Le({16, 1, 2, 3, 4, 5, 6, 0x4064}, 2)},
                     {0x05, thumb}}));
  Write("exif_writer_fuzzer", "arx-wide-gamut-mm",
        WriterInput(15, "Vedra ARX K1600Q", shot,
                    {{0x80, Prefixed(Le({5}), Text("Vedra"))},
                     {0x85, Le({2, 0}, 2)},
                     {0x04, Le({0x10, 0x2000, 0x0800, 0x0600}, 2)},
                     {0x14, Le({1, 2, 16}, 2)},
                     {0x08, Le({50, 1, 4000, 1, 3000, 1, 2}, 4)},
                     {0x88, Le({313, 1000, 329, 1000})},
                     {0x1B, Le({0x1234})},
                     {0x0B, Prefixed({'A', 'S', 'C', 'I', 'I', 0, 0, 0}, Prefixed(Le({3}), Text("abc")))}}));
  // The conformance check and the IIM exports: camera-style JPEGs (one with
  // the optional-data trailer), IIM datasets behind IFD0 of a JPEG and a TIFF,
  // a preserved block.
  const Bytes datasets = {0x1C, 2, 0,   0, 2, 0, 4,   0x1C, 2, 5,   0, 5, 'T', 'i', 't', 'l', 'e',
                     0x1C, 2, 120, 0, 7, 'C', 'a', 'p', 't', 'i', 'o', 'n',
                     0x1C, 2, 25,  0, 2, 'k', 'w',   0x1C, 2, 202, 0x80, 2, 0, 1, 'x'};
  qdtest::CameraShape camera;
  Write("check_iim_fuzzer", "camera", qdtest::CameraJpeg(camera));
  camera.portrait = true;
  camera.interopIndex = "R03";
  camera.colorSpace = 0xFFFF;
  camera.adobeRgbTags = true;
  Bytes trailed = qdtest::CameraJpeg(camera);
  const char* signature = "VEDRA OPTIONAL DATA";
  trailed.insert(trailed.end(), signature, signature + 19);
  trailed.resize(trailed.size() + 45, 0);
  Write("check_iim_fuzzer", "camera-portrait-trailer", trailed);
  qdtest::CameraShape withIim;
  withIim.extra = [&datasets](qdtest::CameraIfds& f) { f.ifd0.Undefined(0x83BB, datasets); };
  Write("check_iim_fuzzer", "camera-iim", qdtest::CameraJpeg(withIim));
  qdtest::TiffShape iimTiff = qdtest::ExifTiffShape(qdtest::Order::MM);
  iimTiff.iptc = datasets;
  Write("check_iim_fuzzer", "exif-tiff-iim-mm", qdtest::BuildTiffFile(iimTiff).bytes);
  Bytes block = {'V', 'E', 'D', 'R', 'A', 'D', 'C', '_', 'I', 'I', 'M', 0, 0, 0, 0, 1, 1, 0, 0, 0,
                 2, 120, 0, 0, 0, 3, 'a', 'b', 'c', 2, 5, 0, 0, 0, 0};
  Write("check_iim_fuzzer", "preserved-block-be", block);

  Write("exif_writer_fuzzer", "nothing-given", WriterInput(0, "", absent, {}));
  Write("exif_writer_fuzzer", "other-maker",
        WriterInput(3, "Other One", absent,
                    {{0x80, Prefixed(Le({5}), Text("Other"))}, {0x85, Le({1}, 2)}, {0x36, Le({1}, 2)}}));
  return 0;
}
