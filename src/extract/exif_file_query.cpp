#include "extract/exif_file_query.h"

#include "frame/buffered_reader.h"
#include "frame/status.h"
#include "frame/stream_port.h"
#include "tiffjpeg/exif_query.h"
#include "tiffjpeg/ifd_walk.h"

namespace qd::extract {
namespace {

tiff::ReadMode ModeFor(const tiff::CopyScratch& scratch) {
  return scratch.room != nullptr ? tiff::ReadMode::kView : tiff::ReadMode::kCopy;
}

// A walk through the stream. The walker reads an IFD it cannot load as an
// empty one; when that was the host failing, its error is the result.
// A value the walk could not get memory for fails the call rather than going
// missing from it.
uint32_t QueryTiff(const qdlStream* stream, uint32_t ifdPosition, ByteOrder order, IfdQuery* list,
                   ValueRoom* room) {
  StreamPort port;
  MakeStreamPort(stream, &port);
  ScopedReader reader;
  tiff::CopyScratch scratch{room};
  Status st = reader.Open(port, kProbeReaderCapacity);
  if (st == ST_OK) {
    IfdQuery* cursor = list;
    st = tiff::WalkStream(&reader, ifdPosition, order, &cursor, 0, ModeFor(scratch), &scratch);
  }
  if (port.hostError != 0) return port.hostError;
  return st == ST_OK && scratch.outOfMemory ? QD_E_NO_MEMORY : ToResultCode(st);
}

}  // namespace

ByteOrder OrderOf(const TiffBlockInfo& block) { return block.byteOrder != 0 ? kBigEndian : kLittleEndian; }

uint32_t QueryExifFile(const ExifFile& file, IfdQuery* list, ValueRoom* room, const tiff::RunIndex* runs) {
  if (file.stream != nullptr) return QueryTiff(file.stream, file.block->ifdOffset, OrderOf(*file.block), list, room);
  tiff::CopyScratch scratch{room, false, runs};
  const Status st = tiff::QueryExif(file.block, list, ModeFor(scratch), &scratch);
  if (st != ST_OK) return ToResultCode(st);
  return scratch.outOfMemory ? QD_E_NO_MEMORY : QD_OK;
}

uint32_t QueryExifMakerNote(const ExifFile& file, uint32_t noteAt, uint32_t noteSize, IfdQuery* list,
                            ValueRoom* room, const tiff::RunIndex* runs) {
  if (file.stream != nullptr) return QueryTiff(file.stream, noteAt, OrderOf(*file.block), list, room);
  tiff::CopyScratch scratch{room, false, runs};
  TiffBlockInfo note = *file.block;
  note.ifdOffset = noteAt;
  // A note that is not where it says leaves its tags unfound; in the stream
  // a host failure or a lack of memory ends the call.
  (void)tiff::QueryMakerNote(&note, list, noteAt, noteSize, ModeFor(scratch), &scratch);
  return scratch.outOfMemory ? QD_E_NO_MEMORY : QD_OK;
}

}  // namespace qd::extract
