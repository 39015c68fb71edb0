// Queries over Exif blocks and maker notes: each prepares the starting IFD of
// a TiffBlockInfo and runs one of the IFD walkers over it.
#pragma once

#include <cstdint>

#include "frame/status.h"
#include "qdparse.h"
#include "tiffjpeg/ifd_walk.h"

namespace qd::tiff {

ByteOrder Order(const TiffBlockInfo& block);

// Copies (kCopy) or locates (kLocate) values of the block; the first query on
// a block whose ifdOffset is 0 reads its header and stores byte order and
// IFD0's offset. ST_UNSUPPORTED when the starting IFD is unusable.
Status QueryExif(TiffBlockInfo* block, IfdQuery* list, ReadMode mode, CopyScratch* scratch = nullptr);

// As QueryExif over a maker note whose IFD starts at block->ifdOffset. When
// offset and size are both nonzero, a valid relocation footer at the maker
// note's end (and relocation tag 0x0019 = 1) shifts every out-of-line value
// offset by where the note was first written.
Status QueryMakerNote(TiffBlockInfo* block, IfdQuery* list, uint32_t makerNoteOffset,
                      uint32_t makerNoteSize, ReadMode mode, CopyScratch* scratch = nullptr);

// The stream form: block->segmentOffset carries an open BufferedReader,
// block->tiffSize the stream position of the TIFF header.
Status QueryStreamLocate(TiffBlockInfo* block, IfdQuery* list);

}  // namespace qd::tiff
