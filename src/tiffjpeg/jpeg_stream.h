// Small helpers of the JPEG paths: adopting an APP1 payload as an Exif block,
// and scanning a host stream for the next marker.
#pragma once

#include <cstdint>

#include "frame/status.h"
#include "qdparse.h"

namespace qd::jpeg {

// `block->segment` holds an APP1 payload in a library block ("Exif\0" or
// "LoLe\0", a pad byte, then the TIFF header). Points `tiff` at the header and
// leaves `ifdOffset` 0 for the first query to fill. ST_UNSUPPORTED when the
// signature or byte-order mark is wrong.
Status AdoptExifBlock(TiffBlockInfo* block);

// Frees the Exif block's buffer and clears the descriptor.
void ReleaseExifBlock(TiffBlockInfo* block);

// Reads from the stream's current position to the next marker and returns its
// code: fill bytes 0xFF are passed over and stuffed zeros are not markers. 0
// on a read error or at the end of the stream.
uint8_t NextMarker(const qdlStream* stream);

}  // namespace qd::jpeg
