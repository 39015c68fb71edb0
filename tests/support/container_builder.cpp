#include "support/container_builder.h"

#include <algorithm>
#include <stdexcept>
#include <utility>
#include <vector>

namespace qdtest {
namespace {

constexpr uint16_t kTagFillerBase = 0xC400;  // private, above every tag used here

// SHORT, LONG or RATIONAL.
TiffIfd& Dimension(TiffIfd& ifd, uint16_t tag, uint16_t type, uint16_t value) {
  return type == kTRational ? ifd.Rational(tag, {{value, 1}})
                            : ifd.Values(tag, type, type == kTShort ? 2 : 4, {value});
}

uint16_t Samples(const TiffShape& s) { return s.photometric == 2 ? 3 : 1; }

// The baseline entries of an uncompressed image in one strip at `stripAt`.
void ImageEntries(TiffIfd& ifd, const TiffShape& s, uint32_t stripAt) {
  const uint16_t samples = Samples(s);
  Dimension(ifd, 0x0100, s.dimensionType, s.width);   // ImageWidth
  Dimension(ifd, 0x0101, s.dimensionType, s.height);  // ImageLength
  ifd.Short(0x0102, std::vector<uint16_t>(samples, 8)).Short(0x0103, {1});  // bits, compression
  if (s.photometric) ifd.Short(0x0106, {*s.photometric});
  if (!s.make.empty()) ifd.Ascii(0x010F, s.make);
  if (!s.model.empty()) ifd.Ascii(0x0110, s.model);
  ifd.Long(0x0111, {stripAt})    // StripOffsets
      .Short(0x0115, {samples})  // SamplesPerPixel
      .Short(0x0116, {s.height})  // RowsPerStrip
      .Long(0x0117, {uint32_t{s.width} * s.height * samples});  // StripByteCounts
}

struct Laid {
  TiffImage image;
  int ifd0 = -1, ifd1 = -1, exif = -1;
};

// Lays the file out with the strip and IFD0 offsets given; neither changes
// where anything lands, so a first pass finds them for the second.
Laid LayOut(const TiffShape& s, uint32_t stripAt, uint32_t firstIfd) {
  TiffBuilder tb(s.order);
  TiffIfd* ifd1 = s.ifd0AtEight ? nullptr : &tb.NewIfd();  // IFD0 lies elsewhere behind IFD1
  TiffIfd& ifd0 = tb.NewIfd();
  if (s.ifd1 && ifd1 == nullptr) ifd1 = &tb.NewIfd();
  TiffIfd* exif = s.exifIfd ? &tb.NewIfd() : nullptr;

  ImageEntries(ifd0, s, stripAt);
  if (!s.privateBlock.empty()) ifd0.Undefined(kTagPrivateBlock, s.privateBlock);
  if (!s.iptc.empty()) ifd0.Undefined(kTagIptc, s.iptc);
  if (exif != nullptr) ifd0.Sub(kTagExifIfd, *exif);
  const uint16_t heapType = s.heapType == kTByte ? kTByte : kTUndefined;
  if (s.heap) ifd0.Values(kTagEmbeddedHeap, heapType, 1, {s.heap->begin(), s.heap->end()});
  for (uint16_t i = 0; ifd0.size() < s.ifd0Entries; ++i) {
    ifd0.Short(static_cast<uint16_t>(kTagFillerBase + i), {i});
  }
  if (ifd1 != nullptr) {  // a 2x1 grey thumbnail over the first bytes of IFD0's strip
    const TiffShape thumb{s.order, true, false, 2, 1, kTShort, 1};
    ImageEntries(ifd1->Long(0x00FE, {1}), thumb, stripAt);  // NewSubfileType: reduced
    ifd0.Next(*ifd1);
  }
  if (exif != nullptr) {
    exif->Rational(0x829A, {{1, 60}})             // ExposureTime
        .Undefined(0x9000, {'0', '2', '3', '0'})  // ExifVersion
        .Ascii(0x9003, "2024:05:06 07:08:09");    // DateTimeOriginal
  }
  if (firstIfd != 0) tb.FirstIfd(firstIfd);
  return {tb.Build(), ifd0.index(), ifd1 != nullptr ? ifd1->index() : -1,
          exif != nullptr ? exif->index() : -1};
}

size_t Ifd0Entry(const TiffFile& f, uint16_t tag) {
  const bool be = f.order == Order::MM;
  for (uint32_t i = 0; i < GetU16(&f.bytes.at(f.ifd0), be); ++i) {
    if (GetU16(&f.bytes.at(f.ifd0 + 2 + 12 * i), be) == tag) return f.ifd0 + 2 + 12 * i;
  }
  throw std::invalid_argument("no such tag in IFD0");
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
  return HeapFileBuilder(root).Subtype(subtype).Build();
}

Bytes EmbeddedHeapImage(bool bigEndian, const std::string& subtype, uint8_t marker) {
  const HeapBuilder root = ImagePropertiesHeap(bigEndian, marker);
  return HeapFileBuilder(root).Subtype(subtype).Version(0x00020001).Build();
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
  f.bytes.resize(std::max<size_t>(f.contentEnd, uint64_t{f.ifd0} + kIfd0Window), 0);
  for (uint32_t i = 0; i < f.stripSize; ++i) {
    f.bytes[f.strip + i] = static_cast<uint8_t>(0x10 + 7 * i);
  }
  return f;
}

void TiffFile::SetIfd0Count(uint16_t tag, uint32_t count) {
  PutU32(bytes, Ifd0Entry(*this, tag) + 4, count, order == Order::MM);
}

void TiffFile::SetIfd0Field(uint16_t tag, uint32_t field) {
  PutU32(bytes, Ifd0Entry(*this, tag) + 8, field, order == Order::MM);
}

}  // namespace qdtest
