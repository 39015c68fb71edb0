// Pieces of RAW files copied to a host stream without being interpreted: the
// embedded JPEG images of a heap file, a byte range of any stream, and the
// strip images of the first two IFDs of a TIFF file.
#pragma once

#include <cstdint>

#include "qdparse.h"

namespace qd {

// Copies `length` bytes from `offset` of `in` (read, seek and tell; used as it
// is, not opened) to `out` (open, write and close; opened for writing). One
// host read and one host write: a short read writes only the bytes that came,
// and a write that takes fewer bytes than offered is not detected. The range
// must lie inside `in` (QD_E_CORRUPT, nothing allocated or written). `in`'s
// position is restored whenever its first tell succeeded. Returns a result
// code; host errors pass through unchanged.
uint32_t CropStream(const qdlStream* in, uint32_t offset, uint32_t length, const qdlStream* out);

}  // namespace qd
