// Where a file's IIM datasets start: the block that IFD0's IPTC-NAA tag points
// to, in an Exif JPEG, an Exif TIFF, or the TIFF files of the two ARX K models
// that carry no Exif IFD.
#pragma once

#include <cstdint>

#include "format/file_kind.h"
#include "frame/stream_port.h"

namespace qd::iim {

struct IimLocation {
  uint64_t position = 0;  // of the first dataset; may lie past the stream
  uint16_t kind = kKindNone;
};

// A result code: QD_E_NOT_APPLICABLE when the file has no IPTC-NAA tag,
// QD_E_CORRUPT for a kind that carries none, QD_E_UNSUPPORTED for an Exif
// JPEG whose APP1 the marker scan does not reach.
uint32_t LocateIim(const StreamPort& port, IimLocation* where);

}  // namespace qd::iim
