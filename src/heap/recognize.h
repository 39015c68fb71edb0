// Container recognition: which kind of file a stream holds, and where its
// properties live.
#pragma once

#include <cstdint>

#include "frame/status.h"
#include "frame/stream_port.h"
#include "heap/file_kind.h"
#include "qdparse.h"

namespace qd {

// Records the winning probe fills; all must be given.
struct Recognized {
  HeapObject* heap;         // kinds 0, 1, 2
  TiffBlockInfo* exif;      // kinds 3, 4 (kind 4: byteOrder and ifdOffset only)
  JpegSofInfo* sof;         // JPEG
  JfifInfo* jfif;           // JPEG
  TiffImageInfo* image;     // TIFF RAW
  OutPutInfo* extensions;   // JPEG and TIFF RAW; release with qdParseFreeOutPutInfo
};

// Runs the JPEG, heap-file, Exif-TIFF and TIFF-RAW probes in that order. A
// probe that answers ST_NOT_FOUND or ST_UNSUPPORTED passes to the next; any
// other failure ends recognition. When every probe declines, the last one's
// status is returned and the kind is kKindNone. After a failure nothing is
// left allocated.
Status RecognizeContainer(const StreamPort& port, uint16_t* kind, const Recognized& out);

// The heap-file probe alone: the image-properties heap of a "CCDR" file.
Status ProbeHeapFile(const StreamPort& port, HeapObject* heap);

}  // namespace qd
