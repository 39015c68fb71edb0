// One tag of an Exif JPEG or an Exif TIFF replaced by bytes the host hands
// over in a stream of their own, and the write-back of a changed Exif block
// over the APP1 segment it came from.
#pragma once

#include <cstdint>

#include "frame/stream_port.h"
#include "qdparse.h"

namespace qd::replace {

// `fileType` 5 (Exif JPEG: `exif` is the APP1 block, written back whole) or
// 8 (Exif TIFF: `exif` carries order and IFD0; only the value is written).
// `id`: tag (bits 0-15), TIFF type (16-19), IFD (20-23: IFD0, Exif, interop,
// IFD1, maker note), conversion (24-27: bytes as they are, or a time value to
// date text). Returns a result code.
uint32_t RewriteTag(const StreamPort& port, TiffBlockInfo* exif, uint8_t fileType, uint32_t id,
                    const qdlStream* value);

// Writes the whole Exif block over the payload of the APP1 segment it came
// from (at exif.segmentOffset), which must be exactly as long. Returns a
// result code.
uint32_t WriteBackApp1(const qdlStream* stream, const TiffBlockInfo& exif);

}  // namespace qd::replace
