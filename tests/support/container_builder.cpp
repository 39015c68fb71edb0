#include "support/container_builder.h"

#include <algorithm>
#include <stdexcept>
#include <utility>
#include <vector>

namespace qdtest {
namespace {

// Baseline TIFF tags of the fixtures' image directories.
constexpr uint16_t kTagNewSubfileType = 0x00FE;
constexpr uint16_t kTagImageWidth = 0x0100;
constexpr uint16_t kTagImageLength = 0x0101;
constexpr uint16_t kTagBitsPerSample = 0x0102;
constexpr uint16_t kTagCompression = 0x0103;
constexpr uint16_t kTagPhotometric = 0x0106;
constexpr uint16_t kTagMake = 0x010F;
constexpr uint16_t kTagModel = 0x0110;
constexpr uint16_t kTagStripOffsets = 0x0111;
constexpr uint16_t kTagSamplesPerPixel = 0x0115;
constexpr uint16_t kTagRowsPerStrip = 0x0116;
constexpr uint16_t kTagStripByteCounts = 0x0117;
constexpr uint16_t kTagFillerBase = 0xC400;  // private, above every tag used here

constexpr uint16_t kThumbWidth = 2;

void Dimension(TiffIfd& ifd, uint16_t tag, uint16_t type, uint16_t value) {
  switch (type) {
    case kTShort: ifd.Short(tag, {value}); break;
    case kTLong: ifd.Long(tag, {value}); break;
    case kTRational: ifd.Rational(tag, {{value, 1}}); break;
    default: throw std::invalid_argument("dimension type");
  }
}

uint16_t Samples(const TiffShape& s) { return s.photometric == 2 ? 3 : 1; }

struct Laid {
  TiffImage image;
  int ifd0 = -1, ifd1 = -1, exif = -1;
  uint16_t ifd0Entries = 0;
};

// Lays the file out with the strip and IFD0 offsets given; neither changes
// where anything lands, so a first pass finds them for the second.
Laid LayOut(const TiffShape& s, uint32_t stripAt, uint32_t firstIfd) {
  TiffBuilder tb(s.order);
  Laid laid;
  TiffIfd* ifd1 = nullptr;
  const bool withIfd1 = s.ifd1 || !s.ifd0AtEight;  // IFD0 lies elsewhere behind IFD1
  if (!s.ifd0AtEight) ifd1 = &tb.NewIfd();
  TiffIfd& ifd0 = tb.NewIfd();
  if (withIfd1 && ifd1 == nullptr) ifd1 = &tb.NewIfd();
  TiffIfd* exif = s.exifIfd ? &tb.NewIfd() : nullptr;

  const uint16_t samples = Samples(s);
  uint16_t entries = 0;
  const auto add = [&]() -> TiffIfd& {
    ++entries;
    return ifd0;
  };
  Dimension(add(), kTagImageWidth, s.dimensionType, s.width);
  Dimension(add(), kTagImageLength, s.dimensionType, s.height);
  add().Short(kTagBitsPerSample, std::vector<uint16_t>(samples, 8));
  add().Short(kTagCompression, {1});
  if (s.photometric) add().Short(kTagPhotometric, {*s.photometric});
  if (!s.make.empty()) add().Ascii(kTagMake, s.make);
  if (!s.model.empty()) add().Ascii(kTagModel, s.model);
  add().Long(kTagStripOffsets, {stripAt});
  add().Short(kTagSamplesPerPixel, {samples});
  add().Short(kTagRowsPerStrip, {s.height});
  add().Long(kTagStripByteCounts, {uint32_t{s.width} * s.height * samples});
  if (!s.privateBlock.empty()) add().Undefined(kTagPrivateBlock, s.privateBlock);
  if (!s.iptc.empty()) add().Undefined(kTagIptc, s.iptc);
  if (exif != nullptr) add().Sub(kTagExifIfd, *exif);
  if (s.heap && s.heapType == kTByte) add().Byte(kTagEmbeddedHeap, *s.heap);
  if (s.heap && s.heapType != kTByte) add().Undefined(kTagEmbeddedHeap, *s.heap);
  for (uint16_t i = 0; entries < s.ifd0Entries; ++i) {
    add().Short(static_cast<uint16_t>(kTagFillerBase + i), {i});
  }

  if (ifd1 != nullptr) {
    // A 2x1 grey thumbnail over the first bytes of IFD0's strip.
    ifd1->Long(kTagNewSubfileType, {1})
        .Short(kTagImageWidth, {kThumbWidth})
        .Short(kTagImageLength, {1})
        .Short(kTagBitsPerSample, {8})
        .Short(kTagCompression, {1})
        .Short(kTagPhotometric, {1})
        .Long(kTagStripOffsets, {stripAt})
        .Short(kTagSamplesPerPixel, {1})
        .Short(kTagRowsPerStrip, {1})
        .Long(kTagStripByteCounts, {kThumbWidth});
    ifd0.Next(*ifd1);
  }
  if (exif != nullptr) {
    exif->Rational(0x829A, {{1, 60}})                    // ExposureTime
        .Undefined(0x9000, {'0', '2', '3', '0'})         // ExifVersion
        .Ascii(0x9003, "2024:05:06 07:08:09");           // DateTimeOriginal
  }
  if (firstIfd != 0) tb.FirstIfd(firstIfd);
  laid.image = tb.Build();
  laid.ifd0 = ifd0.index();
  laid.ifd1 = ifd1 != nullptr ? ifd1->index() : -1;
  laid.exif = exif != nullptr ? exif->index() : -1;
  laid.ifd0Entries = entries;
  return laid;
}

}  // namespace

HeapBuilder ImagePropertiesHeap(bool bigEndian, uint8_t marker) {
  HeapBuilder h(bigEndian);
  h.Data(0x0810, {'o', 'w', 'n', 'e', 'r', static_cast<uint8_t>('0' + marker % 10), 0});
  h.InRecord(0x1817, {1, 2, 3, 4, 5, 6, 7, marker});
  h.Data(0x102A, U16s({1, 0x0203, 0x0405}, bigEndian));
  return h;
}

Bytes HeapFileFixture(bool bigEndian, const std::string& subtype, bool imageProperties) {
  HeapBuilder root(bigEndian);
  root.Data(0x0805, {'c', 'o', 'm', 'm', 'e', 'n', 't', 0});
  // Without the image-properties heap the root still holds a nested heap.
  root.Nested(imageProperties ? kTypeImageProperties : 0x300B, ImagePropertiesHeap(bigEndian));
  HeapFileBuilder file(root);
  file.Subtype(subtype);
  return file.Build();
}

Bytes EmbeddedHeapImage(bool bigEndian, const std::string& subtype, uint8_t marker) {
  HeapFileBuilder file(ImagePropertiesHeap(bigEndian, marker));
  file.Subtype(subtype).Version(0x00020001);
  return file.Build();
}

TiffShape RawTiffShape(Order order) {
  TiffShape s;
  s.order = order;
  s.heap = EmbeddedHeapImage(order == Order::MM);
  return s;
}

TiffShape ExifTiffShape(Order order) {
  TiffShape s;
  s.order = order;
  s.make = "Maker";
  s.model = "Model 10";
  s.exifIfd = true;
  return s;
}

TiffFile BuildTiffFile(const TiffShape& shape) {
  // Pass one finds where the strip goes (after everything) and where IFD0 lands.
  const Laid first = LayOut(shape, 0, 0);
  const uint32_t stripAt = (first.image.size() + 1) & ~1u;
  const uint32_t ifd0 = first.image.ifdOffsets.at(first.ifd0);
  Laid laid = LayOut(shape, stripAt, shape.ifd0AtEight ? 0 : ifd0);
  if (laid.ifd0Entries > shape.ifd0Entries && shape.ifd0Entries != 0) {
    throw std::invalid_argument("IFD0 needs more entries than asked for");
  }

  TiffFile f;
  f.order = shape.order;
  f.ifd0 = ifd0;
  f.ifd1 = laid.ifd1 >= 0 ? laid.image.ifdOffsets.at(laid.ifd1) : 0;
  f.exifIfd = laid.exif >= 0 ? laid.image.ifdOffsets.at(laid.exif) : 0;
  if (shape.heap && shape.heap->size() > 4) {
    f.heapSize = static_cast<uint32_t>(shape.heap->size());
    f.heapAt = laid.image.valueOffsets.at({laid.ifd0, kTagEmbeddedHeap});
  }
  f.strip = stripAt;
  f.stripSize = uint32_t{shape.width} * shape.height * Samples(shape);
  f.contentEnd = f.strip + f.stripSize;
  f.bytes = std::move(laid.image.bytes);
  f.bytes.resize(f.contentEnd, 0);
  for (uint32_t i = 0; i < f.stripSize; ++i) f.bytes[f.strip + i] = static_cast<uint8_t>(0x10 + 7 * i);
  f.bytes.resize(std::max<size_t>(f.contentEnd, uint64_t{f.ifd0} + kIfd0Window), 0);
  return f;
}

namespace {

size_t Ifd0Entry(const TiffFile& f, uint16_t tag) {
  const bool be = f.order == Order::MM;
  const uint16_t n = GetU16(&f.bytes.at(f.ifd0), be);
  for (uint32_t i = 0; i < n; ++i) {
    const size_t at = f.ifd0 + 2 + 12 * i;
    if (GetU16(&f.bytes.at(at), be) == tag) return at;
  }
  throw std::invalid_argument("no such tag in IFD0");
}

}  // namespace

void TiffFile::SetIfd0Count(uint16_t tag, uint32_t count) {
  PutU32(bytes, Ifd0Entry(*this, tag) + 4, count, order == Order::MM);
}

void TiffFile::SetIfd0Field(uint16_t tag, uint32_t field) {
  PutU32(bytes, Ifd0Entry(*this, tag) + 8, field, order == Order::MM);
}

}  // namespace qdtest
