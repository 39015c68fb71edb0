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

// The bytes every probe looks at first, read once for all of them.
constexpr uint32_t kHeadCapacity = 1024;

// Lends the port the stream's head while the probes run.
class LentHead {
 public:
  explicit LentHead(StreamPort* port) : port_(port) { port_->probing = true; }
  LentHead(const LentHead&) = delete;
  LentHead& operator=(const LentHead&) = delete;
  ~LentHead() {
    port_->probing = false;
    port_->head = nullptr;
    port_->headLength = 0;
  }
  Status Fill() {
    Status st = ST_OK;
    const uint32_t size = port_->ops.size(port_->ops.self, &st);
    if (st != ST_OK) return st;
    const uint32_t n = size < kHeadCapacity ? size : kHeadCapacity;
    st = PortReadAt(port_->ops, 0, bytes_, n);
    // The size promised these bytes: a host that stops early has failed.
    if (st != ST_OK) return st == ST_PAST_END ? ST_STREAM_FAILED : st;
    port_->head = bytes_;
    port_->headLength = n;
    return ST_OK;
  }

 private:
  StreamPort* port_;
  uint8_t bytes_[kHeadCapacity];
};

}  // namespace

Status Recognition::Run(const StreamPort& port) {
  Release();
  sof = JpegSofInfo{};
  std::memset(&jfif, 0, offsetof(JfifInfo, reserved2));  // the tail is the caller's
  image = TiffImageInfo{};
  kind = kKindNone;
  app0Position = 0;

  LentHead head(port.ops.self);
  Status st = head.Fill();
  if (st != ST_OK) return st;

  uint16_t jpegKind = kKindNone;
  uint32_t blockAt = 0;
  st = jpeg::ProbeJpeg(port, &heap, &exif, &sof, &jfif, &extensions, &jpegKind, &blockAt);
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
