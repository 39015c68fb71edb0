#include "extract/raw_substreams.h"

#include "frame/buffered_reader.h"
#include "frame/export_call.h"
#include "frame/memory_block.h"
#include "heap/heap_file.h"
#include "container/recognize.h"
#include "tiffjpeg/ifd_walk.h"
#include "format/tiff_format.h"

namespace qd {
namespace {

// Seek, one read, then open, one write and close of `out`. The first host
// error ends the sequence; once `out` is open it is closed whatever happens,
// and its close error counts only when nothing failed before.
uint32_t Transfer(const qdlStream* in, uint32_t offset, uint32_t length, uint8_t* buffer,
                  const qdlStream* out) {
  uint32_t error = 0;
  StreamSeek(in, QD_SEEK_START, static_cast<int32_t>(offset), &error);
  if (error != 0) return error;
  uint32_t count = length;
  in->read(in->context, buffer, &count, &error);
  if (error != 0) return error;
  // Writing what a host claims beyond the buffer would read past it.
  if (count > length) return QD_E_SHORT_READ;
  StreamOpen(out, QD_OPEN_WRITE, &error);
  if (error != 0) return error;
  out->write(out->context, buffer, &count, &error);
  uint32_t closeError = 0;
  StreamClose(out, &closeError);
  return error != 0 ? error : closeError;
}

uint32_t CopyRange(const StreamPort& port, uint32_t offset, uint32_t length, const qdlStream* out) {
  const qdlStream* in = port.host;
  Status st = ST_OK;
  const uint32_t size = PortSize(port.ops, &st);
  if (st != ST_OK) return ToResultCode(st);
  if (size < 1) return QD_E_INVALID_ARG;
  // The range is checked against the stream before it decides an allocation;
  // in 64 bits, since offset + length can wrap.
  if (!FitsIn(offset, length, size)) return QD_E_CORRUPT;
  uint8_t* buffer = BlockAlloc(length);
  if (buffer == nullptr) return QD_E_NO_MEMORY;
  uint32_t result = Transfer(in, offset, length, buffer, out);
  if (BlockFree(buffer) != ST_OK && result == QD_OK) result = QD_E_BLOCK_CHECK;
  return result;
}

// Writes the data of root record `type` of a "CCDR" heap file to `out`, whose
// open and close are optional.
Status CopyHeapImage(const StreamPort& port, uint16_t type, const qdlStream* out) {
  heap::HeapFile file{};
  Status st = heap::OpenHeapFile(port, "CCDR", &file);
  if (st != ST_OK) return st;
  BlockOwner table(file.root.table);
  heap::RootRequest requests[2] = {};
  requests[0].type = type;
  requests[0].load = 1;
  st = heap::LoadRootRecords(file, requests);
  if (st != ST_OK) return st;
  BlockOwner image(requests[0].data);
  if (requests[0].found == 0 || requests[0].length == 0) return ST_NOT_FOUND;

  StreamPort target;
  MakeStreamPort(out, &target);
  if (out->open != nullptr) {
    st = PortOpen(target.ops, kPortWrite);
    if (st != ST_OK) return st;
  }
  st = PortWriteAll(target.ops, image.get(), requests[0].length);
  const Status closed = out->close != nullptr ? PortClose(target.ops) : ST_OK;
  return st != ST_OK ? st : closed;
}

// Where an Exif TIFF's IFDs start. Recognition runs in full; everything it
// hands out is released again, since only the byte order and IFD0 are kept.
// Any file that is not an Exif TIFF, recognised or not, is a wrong argument.
Status LocateExifTiff(const StreamPort& port, ByteOrder* order, uint32_t* ifd0) {
  Recognition found;
  const Status st = found.Run(port);
  *order = found.exif.byteOrder == kBigEndian ? kBigEndian : kLittleEndian;
  *ifd0 = found.exif.ifdOffset;
  if (st == ST_NOT_FOUND || st == ST_UNSUPPORTED) return ST_BAD_ARGUMENT;
  if (st != ST_OK) return st;
  return found.kind == kKindExifTiff ? ST_OK : ST_BAD_ARGUMENT;
}

void ReadRequest(IfdQuery* q, uint16_t tag, uint16_t type, void* into, uint32_t size) {
  q->op = IFDQ_READ;
  q->tag = tag;
  q->type = type;
  q->data = reinterpret_cast<uintptr_t>(into);
  q->size = size;
}

// The strip image of IFD0, or of IFD1 when `secondIfd`: its size through the
// caller's pointers and, when `out` is given, its strip bytes through
// CropStream, whose result code is handed back as it is.
WorkResult CopyStripImage(const StreamPort& port, bool secondIfd, uint16_t* width,
                          uint16_t* height, const qdlStream* out) {
  Status st = ST_OK;
  const uint32_t size = PortSize(port.ops, &st);
  if (st != ST_OK) return {st, 0};
  if (size < 1) return {ST_BAD_ARGUMENT, 0};
  ByteOrder order = kLittleEndian;
  uint32_t ifd0 = 0;
  st = LocateExifTiff(port, &order, &ifd0);
  if (st != ST_OK) return {st, 0};
  if (ifd0 >= size) return {Corrupt(), 0};

  uint16_t w = 0;
  uint16_t h = 0;
  uint32_t stripOffset = 0;
  uint32_t stripBytes = 0;
  IfdQuery list[6] = {};
  IfdQuery* q = list;
  if (secondIfd) (q++)->op = IFDQ_NEXT_IFD;
  IfdQuery* const fields = q;
  ReadRequest(q++, tiff::kTagImageWidth, tiff::kShort, &w, sizeof w);
  ReadRequest(q++, tiff::kTagImageLength, tiff::kShort, &h, sizeof h);
  ReadRequest(q++, tiff::kTagStripOffsets, tiff::kLong, &stripOffset, sizeof stripOffset);
  ReadRequest(q++, tiff::kTagStripByteCounts, tiff::kLong, &stripBytes, sizeof stripBytes);
  {
    ScopedReader reader;
    st = reader.Open(port, kProbeReaderCapacity);
    if (st != ST_OK) return {st, 0};
    IfdQuery* cursor = list;
    st = tiff::WalkStream(&reader, ifd0, order, &cursor, 0);
    if (st != ST_OK) return {st, 0};
  }
  if (width != nullptr && fields[0].found != 0) *width = w;
  if (height != nullptr && fields[1].found != 0) *height = h;
  if (out == nullptr) return {ST_OK, 0};
  if (fields[2].found == 0 || fields[3].found == 0) return {Corrupt(), 0};
  return {ST_OK, CropStream(port.host, stripOffset, stripBytes, out)};
}

uint32_t StripImageExport(const qdlStream* stream, bool secondIfd, uint16_t* width,
                          uint16_t* height, const qdlStream* out) {
  const bool outOk = out == nullptr || out->write != nullptr;
  return RunStreamExport({stream, QD_OPEN_READ, kNeedsReading, outOk},
                         {{width, sizeof *width}, {height, sizeof *height}}, [&](StreamPort& port) {
                           return CopyStripImage(port, secondIfd, width, height, out);
                         });
}

}  // namespace

// The input is the host's, already open; it is left where it was.
uint32_t CropStream(const qdlStream* in, uint32_t offset, uint32_t length, const qdlStream* out) {
  const bool outOk = out != nullptr && out->open != nullptr && out->write != nullptr && out->close != nullptr;
  return RunStreamExport({in, kHostOpened, kNeedsReading, outOk}, {}, [&](StreamPort& port) {
    uint32_t error = 0;
    const uint32_t position = in->tell(in->context, &error);
    const bool restore = error == 0;
    const uint32_t result = CopyRange(port, offset, length, out);
    if (restore) StreamSeek(in, QD_SEEK_START, static_cast<int32_t>(position), &error);
    return WorkResult{ST_OK, result};
  });
}

}  // namespace qd

extern "C" QD_EXPORT uint32_t QD_API qdParseGetJpegDataFromQdRAW(const qdlStream* stream,
                                                                 uint8_t which,
                                                                 const qdlStream* out) {
  using namespace qd;
  const uint16_t type = which == 1 ? heap::kTypeJpegImage1 : which == 2 ? heap::kTypeJpegImage2 : 0;
  const bool argumentsOk = type != 0 && out != nullptr && out->write != nullptr;
  return RunStreamExport({stream, QD_OPEN_READ, kNeedsReading, argumentsOk}, {},
                         [&](StreamPort& port) { return CopyHeapImage(port, type, out); });
}

extern "C" QD_EXPORT uint32_t QD_API _cropStream(const qdlStream* in, uint32_t offset,
                                                 uint32_t length, const qdlStream* out) {
  return qd::CropStream(in, offset, length, out);
}

extern "C" QD_EXPORT uint32_t QD_API qdParseGetTWAINThumbnailDataFromTiffRAW(
    const qdlStream* stream, uint16_t* width, uint16_t* height, const qdlStream* out) {
  return qd::StripImageExport(stream, true, width, height, out);
}

extern "C" QD_EXPORT uint32_t QD_API qdParseGetLCDDataFromTiffRAW(const qdlStream* stream,
                                                                  uint16_t* width, uint16_t* height,
                                                                  const qdlStream* out) {
  return qd::StripImageExport(stream, false, width, height, out);
}
