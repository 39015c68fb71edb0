// Container recognition: which kind of file a stream holds, where its
// properties live, and the one owner of what a recognition hands out.
#pragma once

#include <cstdint>

#include "format/file_kind.h"
#include "frame/status.h"
#include "frame/stream_port.h"
#include "qdparse.h"

namespace qd {

// The records one recognition fills. The heap object, the Exif block and the
// extension buffers belong to the owner and go with it; a caller that keeps
// one copies the record and clears it here.
class Recognition {
 public:
  Recognition() = default;
  Recognition(const Recognition&) = delete;
  Recognition& operator=(const Recognition&) = delete;
  ~Recognition() { Release(); }

  // Runs the JPEG, heap-file, Exif-TIFF and TIFF-RAW probes in that order, on
  // cleared records. A probe that answers ST_NOT_FOUND or ST_UNSUPPORTED
  // passes to the next; any other failure ends recognition. When every probe
  // declines, the last one's status is returned and the kind is kKindNone.
  // After a failure nothing is held, but a JPEG frame that was read stays.
  Status Run(const StreamPort& port);

  void Release();
  // Hands the heap object to the caller, who releases it.
  HeapObject TakeHeap() {
    const HeapObject h = heap;
    heap = HeapObject{};
    return h;
  }

  uint16_t kind = kKindNone;
  HeapObject heap{};         // kinds 0, 1, 2
  uint32_t app0Position = 0; // kind 1: file position of the APP0 segment holding the heap
  TiffBlockInfo exif{};      // kinds 3, 4 (kind 4: byteOrder and ifdOffset only)
  JpegSofInfo sof{};         // JPEG
  JfifInfo jfif{};           // JPEG
  TiffImageInfo image{};     // TIFF RAW
  OutPutInfo extensions{};   // JPEG and TIFF RAW
};

}  // namespace qd
