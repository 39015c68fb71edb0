// IFD queries over the TIFF data of an Exif file: the Exif block held in
// memory (an Exif JPEG) or the stream itself (an Exif TIFF).
#pragma once

#include <cstdint>

#include "frame/byte_order.h"
#include "tiffjpeg/ifd_walk.h"
#include "qdparse.h"

namespace qd::extract {

struct ExifFile {
  const qdlStream* stream;  // an Exif TIFF is read through it; null for an Exif JPEG
  TiffBlockInfo* block;     // the Exif block, or an Exif TIFF's byte order and IFD0
};

ByteOrder OrderOf(const TiffBlockInfo& block);

// Runs `list` from IFD0, copying values; given a room, the walk views each
// value instead (ReadMode::kView): in the Exif block where it lies in host
// order, else in a copy placed in the room. Given the list's run index, a
// view of an Exif block in host order answers its runs entry by entry. A host
// error is handed back as it is; a walk that ran out of memory is
// QD_E_NO_MEMORY.
uint32_t QueryExifFile(const ExifFile& file, IfdQuery* list, ValueRoom* room = nullptr,
                       const tiff::RunIndex* runs = nullptr);

// Runs `list` over the maker note whose IFD lies at `noteAt` (`noteSize`
// bytes). In memory a note whose IFD does not open leaves its tags unfound.
uint32_t QueryExifMakerNote(const ExifFile& file, uint32_t noteAt, uint32_t noteSize, IfdQuery* list,
                            ValueRoom* room = nullptr, const tiff::RunIndex* runs = nullptr);

}  // namespace qd::extract
