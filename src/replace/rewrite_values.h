// What every rewrite shares: how a new value is stored over an old one, the
// local clock's offset, capture-time text, and the value a host hands over in
// a stream of its own.
#pragma once

#include <cstdint>

#include "frame/byte_order.h"
#include "frame/memory_block.h"
#include "frame/stream_port.h"
#include "qdparse.h"

namespace qd::replace {

// Copies `n` little-endian bytes of `from` over `to` in `order`: each 16-bit
// element (element 2) or 32-bit word (element 4) is swapped for "MM"; any
// other element size (tiff::ElementSize's 1 or 0) is copied byte for byte.
void StoreValue(uint8_t* to, const uint8_t* from, uint32_t n, uint32_t element, ByteOrder order);

// Seconds the local clock is ahead of UTC now, as the camera's clock reads it:
// the local clock of now read back, less the UTC clock read as local
// standard time.
int64_t LocalClockOffset();

// A time value as the camera's date text "YYYY:MM:DD HH:MM:SS" and its zero
// byte; false when the time cannot be formatted.
constexpr uint32_t kDateText = 20;
bool FormatDate(int64_t seconds, char (&text)[kDateText]);

// A failed step's result: the host's own error when a host call failed, else
// the status converted.
uint32_t FailureResult(const StreamPort& port, Status st);
// The same for the IFD walks over a stream, whose ST_BAD_ARGUMENT means an
// IFD of the file could not be read: a corrupt file.
uint32_t WalkFailure(const StreamPort& port, Status st);

// Reads all of `value` (opened for reading, closed again) into a new block.
// Returns a result code: the host's error for open, size, read or close (a
// read error outranks the close's), QD_E_INVALID_ARG for a null stream,
// QD_E_NOT_APPLICABLE for an empty value or when no block can be had.
uint32_t ReadValueStream(const qdlStream* value, BlockOwner* bytes, uint32_t* size);

}  // namespace qd::replace
