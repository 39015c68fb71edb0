// Changing the values of an existing Exif structure where they lie, with
// the type and size they already have: no tag is added and nothing moves.
#pragma once

#include <cstdint>

#include "frame/byte_order.h"
#include "frame/stream_port.h"
#include "qdparse.h"

namespace qd::replace {

// What the caller asks to change. `second` stands in for `image` when that
// is null or invalid, and its three extra values go to the maker note.
// The capture time is shifted by the local clock's offset, in place.
struct Changes {
  const ExifImageInfo* image;
  const QdAuxImageInfo* second;
  ExifCaptureInfo* capture;
  const ExifShotValues* shot;
  PropertyRecord* const* records;
};

// Rewrites an Exif block held in memory. With `pixelSize`, the image's
// width and height also go over PixelXDimension and PixelYDimension.
// Returns a result code.
uint32_t RewriteExifBlock(TiffBlockInfo* block, const Changes& changes, bool pixelSize);

// Rewrites a TIFF file through its stream, which is open for update: the
// TIFF header at position 0, IFD0 at `ifdOffset`. Only the bytes of changed
// values are written. Returns a result code (a host error as the host gave it).
uint32_t RewriteExifFile(const StreamPort& port, ByteOrder order, uint32_t ifdOffset,
                         const Changes& changes);

// A new Exif block in `out` (release with qdParseFreeExifBuffer): `source`
// copied, its thumbnail exchanged for the first thumbnail record, then
// rewritten. Returns a result code; `out` stays cleared on failure.
uint32_t CopyWithChanges(const TiffBlockInfo& source, const Changes& changes, TiffBlockInfo* out);

}  // namespace qd::replace
