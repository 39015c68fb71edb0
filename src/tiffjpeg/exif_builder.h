// The Exif block builder: lays out an IFD tree described by an IFD query list
// whose requests carry values (the inverse of the query walk) as a TIFF
// structure inside an Exif APP1 payload.
#pragma once

#include <cstdint>

#include "frame/byte_order.h"
#include "frame/status.h"
#include "qdparse.h"

namespace qd::tiff {

// Payload signatures.
enum ExifSignature : uint32_t { kSignatureExif = 0, kSignatureLoLe = 1 };

// Builds the block into a new library block owned by `out` (release with
// jpeg::ReleaseExifBlock). Requests: IFDQ_READ = an entry and its value (tag 0:
// passed over), IFDQ_LOCATE = an entry with `data` bytes reserved (their
// offset comes back in `data`), IFDQ_ENTER/IFDQ_LEAVE = a sub-IFD (a `size`
// of 0 is replaced by its byte size), IFDQ_NEXT_IFD = the next IFD of the
// chain, IFDQ_END = the end; `data`/`size` on IFDQ_END or IFDQ_LEAVE is a
// trailing block whose bytes 4-7 get that IFD's offset. `out` is zeroed on
// failure.
Status BuildExifBlock(IfdQuery* list, TiffBlockInfo* out, uint32_t signature, ByteOrder order);

}  // namespace qd::tiff
