// The parse driver and its two paths: what a file is, its image and
// thumbnail descriptions, capture data and shot values, and on request its
// property records, user comment and DCF thumbnail written to host streams.
#pragma once

#include <cstdint>

#include "container/recognize.h"
#include "frame/stream_port.h"
#include "qdparse.h"

namespace qd::extract {

// File type codes reported to hosts.
enum FileType : uint8_t {
  kTypeHeapFile = 1,
  kTypeJpegHeap = 2,
  kTypeTiffRaw = 3,
  kTypeExifJpeg = 5,
  kTypeExifTiff = 8,
  kTypeTiffRaw16 = 9,  // a TIFF RAW whose heap describes 16-bit samples
  kTypeNone = 0xFF,
};

// The file type of a recognised kind.
inline uint8_t FileTypeOf(uint16_t kind) {
  switch (kind) {
    case kKindTiffRaw: return kTypeTiffRaw;
    case kKindJpegHeap: return kTypeJpegHeap;
    case kKindHeapFile: return kTypeHeapFile;
    case kKindExifJpeg: return kTypeExifJpeg;
    case kKindExifTiff: return kTypeExifTiff;
    default: return kTypeNone;
  }
}

// Image format codes of the descriptions.
enum ImageFormat : uint8_t {
  kFormatNone = 0,
  kFormatHeap1 = 1,
  kFormatJpeg = 2,
  kFormatHeap3 = 3,
  kFormatExifJpeg = 5,
  kFormatThumbnailFile = 6,
  kFormatExifTiff = 8,
  kFormatHeap16 = 9,
  kFormatAuxiliary = 10,
  kFormatRawExifTiff = 11,
  kFormatArxKTiff = 12,  // a TIFF of the K models that only its Make and Model tell
};

// The caller's records and output streams; any may be null.
struct Outputs {
  QdThumbnailInfo* thumb;
  QdImageInfo* image;
  ExifCaptureInfo* capture;
  ExifShotValues* shot;
  QdAuxImageInfo* aux;
  const qdlStream* comment;
  const qdlStream* property;
  const qdlStream* dcfThumb;
};

// Recognises the stream's container and runs the path for it.
uint32_t ParseFileStream(const StreamPort& port, uint32_t fileSize, const Outputs& out, uint8_t* fileType);

// The two paths over what recognition found; the records stay the owner's.
// The Exif path runs in mode 5 over the in-memory block of an Exif JPEG and
// in mode 8 through `stream` for an Exif TIFF.
uint32_t ParseHeapFileStream(uint32_t fileSize, const Outputs& out, const Recognition& found,
                             uint8_t* fileType);
uint32_t ParseExifFileStream(const qdlStream* stream, uint32_t fileSize, const Outputs& out,
                             Recognition* found, uint8_t mode);

// Shot values that mean "absent".
void DefaultShotValues(ExifShotValues* shot);

// A camera's clock seconds (local time counted as if it were UTC) to seconds
// since 1970; -1 when the runtime cannot convert them.
int32_t LocalSecondsToTime(int64_t seconds);
// "%Y:%m:%d %H:%M:%S" as local time to seconds since 1970 (0 when absent).
int32_t ParseDateText(const char* text, uint32_t size);

}  // namespace qd::extract
