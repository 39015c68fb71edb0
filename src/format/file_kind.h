// What container recognition decides a stream holds.
#pragma once

#include <cstdint>

namespace qd {

enum FileKind : uint16_t {
  kKindTiffRaw = 0,    // TIFF RAW: a "TIFP" heap in IFD0 tag 0x9219
  kKindJpegHeap = 1,   // JPEG whose properties are an APP0 "JPGM" heap
  kKindHeapFile = 2,   // heap file: the image-properties heap of a "CCDR" file
  kKindExifJpeg = 3,   // JPEG with an Exif (or "LoLe") APP1
  kKindExifTiff = 4,   // TIFF whose IFD0 holds the Exif IFD pointer
  kKindNone = 0xFFFF,
};

}  // namespace qd
