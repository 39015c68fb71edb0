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
#include "support/container_builder.h"
#include "support/heap_builder.h"
#include "support/jpeg_builder.h"
#include "support/tiff_builder.h"

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
  return 0;
}
