#include "extract/exif_file_query.h"

#include "frame/buffered_reader.h"
#include "frame/status.h"
#include "frame/stream_port.h"
#include "tiffjpeg/exif_query.h"
#include "tiffjpeg/ifd_walk.h"

namespace qd::extract {
namespace {

// A walk through the stream. The walker reads an IFD it cannot load as an
// empty one; when that was the host failing, its error is the result.
// A value the walk could not get memory for fails the call rather than going
// missing from it.
uint32_t QueryTiff(const qdlStream* stream, uint32_t ifdPosition, ByteOrder order, IfdQuery* list) {
  StreamPort port;
  MakeStreamPort(stream, &port);
  ScopedReader reader;
  Status st = reader.Open(port, kProbeReaderCapacity);
  bool outOfMemory = false;
  if (st == ST_OK) {
    IfdQuery* cursor = list;
    st = tiff::WalkStream(&reader, ifdPosition, order, &cursor, 0, &outOfMemory);
  }
  if (port.hostError != 0) return port.hostError;
  return st == ST_OK && outOfMemory ? QD_E_NO_MEMORY : ToResultCode(st);
}

}  // namespace

ByteOrder OrderOf(const TiffBlockInfo& block) { return block.byteOrder != 0 ? kBigEndian : kLittleEndian; }

uint32_t QueryExifFile(const ExifFile& file, IfdQuery* list) {
  if (file.stream != nullptr) return QueryTiff(file.stream, file.block->ifdOffset, OrderOf(*file.block), list);
  bool outOfMemory = false;
  const Status st = tiff::QueryExif(file.block, list, tiff::ReadMode::kCopy, &outOfMemory);
  if (st != ST_OK) return ToResultCode(st);
  return outOfMemory ? QD_E_NO_MEMORY : QD_OK;
}

uint32_t QueryExifMakerNote(const ExifFile& file, uint32_t noteAt, uint32_t noteSize, IfdQuery* list) {
  if (file.stream != nullptr) return QueryTiff(file.stream, noteAt, OrderOf(*file.block), list);
  TiffBlockInfo note = *file.block;
  note.ifdOffset = noteAt;
  bool outOfMemory = false;
  // A note that is not where it says leaves its tags unfound; in the stream
  // a host failure or a lack of memory ends the call.
  (void)tiff::QueryMakerNote(&note, list, noteAt, noteSize, tiff::ReadMode::kCopy, &outOfMemory);
  if (outOfMemory) return QD_E_NO_MEMORY;
  return QD_OK;
}

}  // namespace qd::extract
