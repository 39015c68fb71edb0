// Reading JPEG files as far as their marker segments: the probe that finds
// the application block carrying a file's properties, the collecting probe,
// and the frame-header readers. Image data is never decoded.
#pragma once

#include <cstdint>

#include "frame/status.h"
#include "frame/stream_port.h"
#include "format/file_kind.h"
#include "qdparse.h"

namespace qd::jpeg {

// Finds the application block (an Exif/"LoLe" APP1, or an APP0 heap of type
// "JPGM" after a JFIF header), the JFIF header, the first frame header and
// the first single-chunk ICC profile and IIM block. Kind 1 fills `heap`, kind
// 3 fills `exif`; the caller releases them and `extensions`. ST_UNSUPPORTED
// when the stream is not a JPEG of either form; nothing is left allocated
// after a failure, and only a walk that read the frame but refused the
// block keeps `sof` and `jfif`. `blockAt`, when given, receives the file
// position of the application block's segment (its 0xFF).
Status ProbeJpeg(const StreamPort& port, HeapObject* heap, TiffBlockInfo* exif, JpegSofInfo* sof,
                 JfifInfo* jfif, OutPutInfo* extensions, uint16_t* kind,
                 uint32_t* blockAt = nullptr);

// The same classification, walking to the end of the image and gathering
// every APP2 and APP13 segment whole (marker, length and payload, in file
// order) into `segments` when it is given.
Status ProbeJpegCollecting(const StreamPort& port, HeapObject* heap, TiffBlockInfo* exif,
                           JpegSofInfo* sof, JfifInfo* jfif, ExtensionInfo* segments,
                           uint16_t* kind);

// Fills `sof` from the first frame header with a length above 2 before EOI
// of a JPEG held in memory; `found` stays 0 when there is none.
void FindFrameHeader(const uint8_t* jpeg, uint32_t size, JpegSofInfo* sof);

// Free the buffers the probes hand out and clear the records.
void ReleaseOutPutInfo(OutPutInfo* info);
void ReleaseExtensionInfo(ExtensionInfo* info);

}  // namespace qd::jpeg
