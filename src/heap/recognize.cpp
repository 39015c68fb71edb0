#include "heap/recognize.h"

#include <cstring>

#include "frame/memory_block.h"
#include "heap/heap_file.h"
#include "tiffjpeg/jpeg_segments.h"
#include "tiffjpeg/tiff_probes.h"

namespace qd {
namespace {

bool Declined(Status st) { return st == ST_NOT_FOUND || st == ST_UNSUPPORTED; }

}  // namespace

Status ProbeHeapFile(const StreamPort& port, HeapObject* heap) {
  heap::HeapFile file{};
  Status st = heap::OpenHeapFile(port, "CCDR", &file);
  if (st != ST_OK) return st;
  BlockOwner table(file.root.table);
  heap::RootRequest requests[2] = {};
  requests[0].type = heap::kTypeImageProperties;
  requests[0].load = 1;
  st = heap::LoadRootRecords(file, requests);
  if (st != ST_OK) return st;
  if (requests[0].found == 0) return ST_UNSUPPORTED;
  if (requests[0].data == nullptr) return ST_NO_MEMORY;

  HeapObject h{};
  h.block = requests[0].data;
  h.headerLength = 0;
  h.version = file.version;
  std::memcpy(h.type, "CCDR", 5);
  h.heap = requests[0].data;
  h.heapLength = requests[0].length;
  h.bigEndian = file.order == kBigEndian ? 1 : 0;
  *heap = h;
  return ST_OK;
}

Status RecognizeContainer(const StreamPort& port, uint16_t* kind, const Recognized& out) {
  std::memset(out.sof, 0, sizeof *out.sof);
  std::memset(out.jfif, 0, offsetof(JfifInfo, reserved2));  // the tail is the caller's
  std::memset(out.image, 0, sizeof *out.image);
  std::memset(out.extensions, 0, sizeof *out.extensions);
  *kind = kKindNone;

  uint16_t jpegKind = kKindNone;
  Status st = jpeg::ProbeJpeg(port, out.heap, out.exif, out.sof, out.jfif, out.extensions, &jpegKind);
  if (st == ST_OK) {
    *kind = jpegKind;
    return ST_OK;
  }
  if (!Declined(st)) return st;

  st = ProbeHeapFile(port, out.heap);
  if (st == ST_OK) {
    *kind = kKindHeapFile;
    return ST_OK;
  }
  if (!Declined(st)) return st;

  st = tiff::ProbeExifTiff(port, out.exif);
  if (st == ST_OK) {
    *kind = kKindExifTiff;
    return ST_OK;
  }
  if (!Declined(st)) return st;

  st = tiff::ProbeTiffRaw(port, out.heap, out.image, out.extensions);
  if (st == ST_OK) *kind = kKindTiffRaw;
  return st;
}

}  // namespace qd
