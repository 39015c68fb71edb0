// Whole files of the kinds that container recognition tells apart, built on
// the TIFF and heap builders (never on the library's writers):
//
//   TiffShape raw = RawTiffShape(Order::MM);  // "TIFP" heap in tag 0x9219
//   raw.ifd0AtEight = false;                   // IFD1 first, IFD0 after it
//   raw.iptc = {1, 2, 3};
//   TiffFile f = BuildTiffFile(raw);
//
//   Bytes ccdr = HeapFileFixture(true);        // image-properties heap 0x300A
//
// Every TIFF carries a real uncompressed strip (and IFD1 a second one), so
// TIFF tools read it as an image.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "support/heap_builder.h"
#include "support/tiff_builder.h"

namespace qdtest {

constexpr uint16_t kTagPrivateBlock = 0x08C5;
constexpr uint16_t kTagIptc = 0x83BB;
constexpr uint16_t kTagEmbeddedHeap = 0x9219;
constexpr uint16_t kTypeImageProperties = 0x300A;
// The readers' IFD0 window: a count and 33 entries.
constexpr uint32_t kIfd0Window = 398;

// The image-properties heap of the fixtures: a few records; `marker` varies
// their content without changing any size.
HeapBuilder ImagePropertiesHeap(bool bigEndian, uint8_t marker = 0);

// A heap file whose root heap holds a comment and, unless told otherwise, the
// image-properties heap as record 0x300A.
Bytes HeapFileFixture(bool bigEndian, const std::string& subtype = "CCDR",
                      bool imageProperties = true);

// The heap-file image a TIFF RAW file carries in tag 0x9219: ImagePropertiesHeap
// as the root heap of a heap file of subtype `subtype`.
Bytes EmbeddedHeapImage(bool bigEndian, const std::string& subtype = "TIFP", uint8_t marker = 0);

struct TiffShape {
  Order order = Order::II;
  bool ifd0AtEight = true;        // otherwise IFD1 and its values come first
  bool ifd1 = true;               // a reduced-resolution IFD1 linked from IFD0
  uint16_t width = 6, height = 2;
  // The type of ImageWidth and ImageLength: SHORT, LONG or RATIONAL.
  uint16_t dimensionType = kTShort;
  std::optional<uint16_t> photometric = 2;  // none when empty; 2 gives three samples, others one
  std::string make, model;                  // Make and Model, ASCII, when not empty
  Bytes privateBlock;                       // tag 0x08C5, UNDEFINED, when not empty
  Bytes iptc;                               // tag 0x83BB, UNDEFINED, when not empty
  std::optional<Bytes> heap;                // tag 0x9219
  uint16_t heapType = kTUndefined;          // or kTByte
  bool exifIfd = false;                     // tag 0x8769 and an Exif IFD
  uint16_t ifd0Entries = 0;                 // fill IFD0 up to this many entries (private SHORTs)
};

// Photometric 2, the "TIFP" heap, IFD1.
TiffShape RawTiffShape(Order order);
// Make, Model, an Exif IFD, IFD1; no heap.
TiffShape ExifTiffShape(Order order);

struct TiffFile {
  Order order = Order::II;
  Bytes bytes;
  uint32_t ifd0 = 0;
  uint32_t ifd1 = 0;          // 0 when absent
  uint32_t exifIfd = 0;       // 0 when absent
  uint32_t heapAt = 0, heapSize = 0;   // value of tag 0x9219, 0 when absent
  uint32_t strip = 0, stripSize = 0;   // IFD0's image data
  uint32_t contentEnd = 0;    // everything from here on is zero padding

  // Breakers: the count or value-or-offset field of IFD0's entry for `tag`.
  void SetIfd0Count(uint16_t tag, uint32_t count);
  void SetIfd0Field(uint16_t tag, uint32_t field);
};

// Entries are written in ascending tag order. The file is padded with zeros
// so that the IFD0 window lies inside it.
TiffFile BuildTiffFile(const TiffShape& shape);

}  // namespace qdtest
