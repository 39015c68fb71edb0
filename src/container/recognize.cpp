#include "container/recognize.h"

#include <cstring>

#include "heap/heap_file.h"
#include "heap/heap_object.h"
#include "tiffjpeg/jpeg_segments.h"
#include "tiffjpeg/jpeg_stream.h"
#include "tiffjpeg/tiff_probes.h"

namespace qd {
namespace {

bool Declined(Status st) { return st == ST_NOT_FOUND || st == ST_UNSUPPORTED; }

}  // namespace

Status Recognition::Run(const StreamPort& port) {
  Release();
  sof = JpegSofInfo{};
  std::memset(&jfif, 0, offsetof(JfifInfo, reserved2));  // the tail is the caller's
  image = TiffImageInfo{};
  kind = kKindNone;
  app0Position = 0;

  uint16_t jpegKind = kKindNone;
  uint32_t blockAt = 0;
  Status st = jpeg::ProbeJpeg(port, &heap, &exif, &sof, &jfif, &extensions, &jpegKind, &blockAt);
  if (st == ST_OK) {
    kind = jpegKind;
    if (kind == kKindJpegHeap) app0Position = blockAt;
    return ST_OK;
  }
  if (!Declined(st)) return st;

  st = heap::ProbeHeapFile(port, &heap);
  if (st == ST_OK) {
    kind = kKindHeapFile;
    return ST_OK;
  }
  if (!Declined(st)) return st;

  st = tiff::ProbeExifTiff(port, &exif);
  if (st == ST_OK) {
    kind = kKindExifTiff;
    return ST_OK;
  }
  if (!Declined(st)) return st;

  st = tiff::ProbeTiffRaw(port, &heap, &image, &extensions);
  if (st == ST_OK) kind = kKindTiffRaw;
  return st;
}

void Recognition::Release() {
  heap::ReleaseHeapObject(&heap);
  jpeg::ReleaseExifBlock(&exif);
  jpeg::ReleaseOutPutInfo(&extensions);
}

}  // namespace qd
