// Rewriting the properties of files that keep them in a heap (heap files, a
// JPEG's APP0 heap, a TIFF RAW file's embedded heap): values are overwritten
// inside the heap object, in the records that already hold them, and the heap
// object is written back over the bytes it came from. Nothing moves.
#pragma once

#include <cstdint>

#include "container/recognize.h"
#include "frame/status.h"
#include "frame/stream_port.h"
#include "qdparse.h"

namespace qd::replace {

// Every caller record into the heap object, in place (nothing moves, no record grows).
// Returns a result code (the lookup's converted status when the lookup fails).
uint32_t RewriteHeap(const HeapObject& heap, const ExifImageInfo* image, ExifCaptureInfo* capture,
                     const ExifShotValues* shot, PropertyRecord* const* records);

// One heap record replaced by the bytes of `value` (identifier as QDParseReplaceSingleProperty
// takes it). Returns a result code.
uint32_t RewriteHeapRecord(const HeapObject& heap, uint32_t id, const qdlStream* value);

// Writes the heap object back over the bytes it came from, for recognition kinds 0 (TIFF
// RAW, tag 0x9219), 1 (JPEG APP0, at the APP0 segment's file position) and 2 (heap file,
// "CCDR" heap of the same length). Returns an internal Status (the driver converts it).
Status WriteBackHeap(const StreamPort& port, const Recognition& recognition);

}  // namespace qd::replace
