// Exif property buffers: a complete Exif block built from the caller's image,
// capture and shot records and a list of property records.
#pragma once

#include "frame/status.h"
#include "qdparse.h"

namespace qd::exif {

struct BufferMode {
  bool basic;            // the basic camera form: no settings arrays, no firmware text
  bool lossless;         // signature "LoLe" instead of "Exif"
  bool bigEndian;        // byte order of the TIFF structure
  bool makerNoteFooter;  // the relocation footer after the maker note
};

// Builds the block into `out` (release with jpeg::ReleaseExifBlock); `out` is
// cleared first and stays cleared on failure. Payloads are read only as far
// as their records' sizes reach; records too short for their code are
// passed over.
Status BuildExifBuffer(const ExifImageInfo* image, const ExifCaptureInfo* capture,
                       const ExifShotValues* shot, PropertyRecord* const* records,
                       const BufferMode& mode, TiffBlockInfo* out);

// The maker-note or Exif IFD tag that a pass-through record's payload
// fills as it stands, or 0 for other codes.
uint16_t MakerPassThroughTag(uint16_t code);
uint16_t ExifPassThroughTag(uint16_t code);

}  // namespace qd::exif
