// Probes for TIFF-structured files: TIFF RAW files that carry a heap in tag
// 0x9219, and TIFF files with an Exif IFD. They read only the start of the
// file: the header, and IFD0 as one 398-byte window (a count and 33 entries).
#pragma once

#include <cstdint>

#include "frame/status.h"
#include "frame/stream_port.h"
#include "qdparse.h"

namespace qd::tiff {

constexpr uint32_t kIfd0Window = 398;     // count + 33 entries
constexpr uint32_t kMakeModelSize = 32;   // the caller's text buffers

// A TIFF RAW file: fills `heap` (type "TIFP", its block owned by the caller),
// the image description, and in `extensions` the blocks of tags 0x08C5
// (first pair) and 0x83BB (second pair). ST_NOT_FOUND when the stream is not
// such a file; nothing is left allocated after a failure.
Status ProbeTiffRaw(const StreamPort& port, HeapObject* heap, TiffImageInfo* image,
                    OutPutInfo* extensions);

// A TIFF file whose IFD0 holds the Exif IFD pointer: sets only byteOrder and
// ifdOffset (IFD0) of `block`. ST_NOT_FOUND without the pointer, or for a
// stream shorter than the IFD0 window.
Status ProbeExifTiff(const StreamPort& port, TiffBlockInfo* block);

// Copies IFD0's Model and Make (ASCII) into 32-byte buffers, zero-terminated.
// The Model's failure is reported before the Make's.
Status ReadMakeModel(const StreamPort& port, char* model, char* make);

// Writes the heap-file image of `heap` back over the value of tag 0x9219.
// ST_SIZE_MISMATCH, with nothing written, when it no longer fits there.
Status RewriteEmbeddedHeap(const StreamPort& port, const HeapObject& heap);

}  // namespace qd::tiff
