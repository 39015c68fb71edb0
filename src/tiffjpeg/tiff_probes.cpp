#include "tiffjpeg/tiff_probes.h"

#include <cstring>

#include "frame/buffered_reader.h"
#include "frame/byte_order.h"
#include "frame/memory_block.h"
#include "heap/heap_object.h"
#include "format/tiff_format.h"
#include "tiffjpeg/ifd_walk.h"

namespace qd::tiff {
namespace {

constexpr uint32_t kRawReaderCapacity = 0x600;
constexpr uint32_t kWindowEntries = (kIfd0Window - kCountSize) / kEntrySize;  // 33

// An entry as these readers take it; the full 32-bit count is used.
struct DecodedEntry : IfdEntry {
  uint32_t byteSize;
  uint32_t inlineValue;  // first SHORT, or the LONG, of the value field
};

// IFD0 as these readers see it.
struct Ifd0 {
  ByteOrder order;
  uint32_t offset;
  uint16_t count;  // as stored
  uint8_t window[kIfd0Window];
  ByteView entries;  // inside window

  // ST_NOT_FOUND without the tag, ST_UNSUPPORTED for a type these readers do
  // not take or a value larger than 4 GB.
  Status Find(uint16_t tag, DecodedEntry* out) const {
    IfdEntry e{};
    if (!FindTag(entries, tag, order, &e)) return ST_NOT_FOUND;
    uint64_t unit = 0;
    switch (e.type) {
      case kByte: case kAscii: case kUndefined: unit = 1; break;
      case kShort: unit = 2; break;
      case kLong: unit = 4; break;
      case kRational: unit = 8; break;
      default: return ST_UNSUPPORTED;
    }
    const uint64_t size = unit * e.count;
    if (size > UINT32_MAX) return ST_UNSUPPORTED;
    const uint32_t inlineValue = e.type == kShort ? Get16(e.fieldBytes, order) : e.field;
    *out = DecodedEntry{e, static_cast<uint32_t>(size), inlineValue};
    return ST_OK;
  }
};

// Reads the header and the IFD0 window. ST_NOT_FOUND for a stream shorter
// than the window, ST_WRONG_STATE when IFD0's window lies past the end.
Status ReadIfd0(BufferedReader* r, Ifd0* ifd) {
  const uint32_t size = ReaderSize(*r);
  if (size < kIfd0Window) return ST_NOT_FOUND;
  Status st = ReaderRead(r, kIfd0Window, ifd->window);
  if (st != ST_OK) return st;
  if (!OrderFromMark(ifd->window, &ifd->order)) return ST_UNSUPPORTED;
  ifd->offset = Get32(ifd->window + 4, ifd->order);
  uint32_t at = kHeaderSize;  // of the count in the window
  if (ifd->offset != kHeaderSize) {
    if (!FitsIn(ifd->offset, kIfd0Window, size)) return ST_WRONG_STATE;
    st = ReaderSeek(r, ifd->offset, kReaderAbsolute);
    if (st == ST_OK) st = ReaderRead(r, kIfd0Window, ifd->window);
    if (st != ST_OK) return st;
    at = 0;
  }
  ifd->count = Get16(ifd->window + at, ifd->order);
  // The entries the count names, as far as the window holds them.
  const uint32_t room = kIfd0Window - at - kCountSize;
  const uint32_t bytes = kEntrySize * ifd->count;  // < 2^20
  ifd->entries = ByteView(ifd->window + at + kCountSize, bytes < room ? bytes : room);
  return ST_OK;
}

// The value of an entry, into a new block: inline values from the entry,
// others from their offset, which must lie inside the stream.
Status LoadValue(BufferedReader* r, const DecodedEntry& e, BlockOwner* out) {
  if (e.byteSize > kInlineSize && !FitsIn(e.field, e.byteSize, ReaderSize(*r))) return ST_UNSUPPORTED;
  out->reset(BlockAlloc(e.byteSize));
  if (!*out) return ST_NO_MEMORY;
  if (e.byteSize <= kInlineSize) {
    std::memcpy(out->get(), e.fieldBytes, e.byteSize);
    return ST_OK;
  }
  const Status st = ReaderSeek(r, e.field, kReaderAbsolute);
  return st != ST_OK ? st : ReaderRead(r, e.byteSize, out->get());
}

// An optional dimension: SHORT or LONG when present and decodable.
Status ReadDimension(const Ifd0& ifd, uint16_t tag, uint16_t* out) {
  DecodedEntry d{};
  if (ifd.Find(tag, &d) != ST_OK) return ST_OK;
  if (d.type != kShort && d.type != kLong) return ST_UNSUPPORTED;
  *out = static_cast<uint16_t>(d.inlineValue);
  return ST_OK;
}

Status LoadOptional(BufferedReader* r, const Ifd0& ifd, uint16_t tag, BlockOwner* out) {
  DecodedEntry d{};
  const Status st = ifd.Find(tag, &d);
  if (st == ST_NOT_FOUND) return ST_OK;
  return st != ST_OK ? st : LoadValue(r, d, out);
}

Status ReadText(BufferedReader* r, const Ifd0& ifd, uint16_t tag, char* out) {
  DecodedEntry d{};
  if (ifd.Find(tag, &d) != ST_OK || d.type != kAscii) return ST_NOT_FOUND;
  std::memset(out, 0, kMakeModelSize);
  const uint32_t n = d.byteSize < kMakeModelSize - 1 ? d.byteSize : kMakeModelSize - 1;
  if (d.byteSize <= kInlineSize) {
    std::memcpy(out, d.fieldBytes, n);
    return ST_OK;
  }
  Status st = ReaderSeek(r, d.field, kReaderAbsolute);
  if (st == ST_OK) st = ReaderRead(r, n, out);
  if (st != ST_OK) std::memset(out, 0, kMakeModelSize);
  return st;
}

// The reader and the IFD0 window that the TIFF RAW readers share.
class Ifd0Window {
 public:
  Status Open(const StreamPort& port) {
    const Status st = reader_.Open(port, kRawReaderCapacity);
    return st != ST_OK ? st : ReadIfd0(&reader_, &ifd_);
  }
  BufferedReader* reader() { return &reader_; }
  const Ifd0& ifd() const { return ifd_; }

 private:
  ScopedReader reader_;
  Ifd0 ifd_{};
};

}  // namespace

Status ProbeTiffRaw(const StreamPort& port, HeapObject* heap, TiffImageInfo* image,
                    OutPutInfo* extensions) {
  Ifd0Window window;
  Status st = window.Open(port);
  // Like the Exif-TIFF probe, a file whose IFD0 is not in it is declined.
  if (st == ST_WRONG_STATE) return ST_NOT_FOUND;
  if (st != ST_OK) return st;
  const Ifd0& ifd = window.ifd();
  BufferedReader& reader = *window.reader();
  if (ifd.count >= kWindowEntries) return ST_NOT_FOUND;

  TiffImageInfo info{};
  st = ReadDimension(ifd, kTagImageWidth, &info.width);
  if (st == ST_OK) st = ReadDimension(ifd, kTagImageLength, &info.height);
  if (st != ST_OK) return st;
  DecodedEntry d{};
  st = ifd.Find(kTagPhotometric, &d);
  if (st != ST_OK) return st;
  if (d.inlineValue != 1 && d.inlineValue != 2) return ST_UNSUPPORTED;
  info.colour = 1;
  info.rgb = d.inlineValue == 2 ? 1 : 0;

  BlockOwner privateBlock, iptc, heapBlock;
  st = LoadOptional(&reader, ifd, kTagPrivateBlock, &privateBlock);
  if (st == ST_OK) st = LoadOptional(&reader, ifd, kTagIptc, &iptc);
  if (st != ST_OK) return st;
  st = ifd.Find(kTagEmbeddedHeap, &d);
  if (st != ST_OK) return st;
  if (d.byteSize >= ReaderSize(reader)) return ST_UNSUPPORTED;
  st = LoadValue(&reader, d, &heapBlock);
  if (st != ST_OK) return st;

  HeapObject h{};
  st = heap::AttachHeapImage(heapBlock.get(), "TIFP", &h);
  if (st != ST_OK) return st;
  heapBlock.release();
  *heap = h;
  *image = info;
  extensions->iccProfileSize = BlockLength(privateBlock.get());
  extensions->iccProfile = privateBlock.release();
  extensions->iimSize = BlockLength(iptc.get());
  extensions->iim = iptc.release();
  return ST_OK;
}

Status ProbeExifTiff(const StreamPort& port, TiffBlockInfo* block) {
  if (block == nullptr) return ST_BAD_ARGUMENT;
  std::memset(block, 0, sizeof *block);
  ScopedReader reader;
  Status st = reader.Open(port, kProbeReaderCapacity);
  if (st != ST_OK) return st;
  uint8_t header[kHeaderSize];
  st = ReaderRead(&reader, kHeaderSize, header);
  if (st != ST_OK) return st;
  ByteOrder order = kLittleEndian;
  if (!OrderFromMark(header, &order)) return ST_UNSUPPORTED;
  // Like the other TIFF readers, a file shorter than the IFD0 window is none
  // of ours; the header read above still reports a stream under 8 bytes.
  if (ReaderSize(reader) < kIfd0Window) return ST_NOT_FOUND;
  const uint32_t ifd0 = Get32(header + 4, order);
  block->byteOrder = order;
  block->ifdOffset = ifd0;

  // An IFD0 that is not in the stream is no Exif TIFF (a heap file's header
  // reads as one with a huge IFD0 offset): decline, so recognition goes on.
  uint8_t word[2];
  if (!FitsIn(ifd0, kCountSize, ReaderSize(reader))) return ST_NOT_FOUND;
  st = ReaderSeek(&reader, ifd0, kReaderAbsolute);
  if (st == ST_OK) st = ReaderRead(&reader, kCountSize, word);
  if (st != ST_OK) return st;
  const uint16_t count = Get16(word, order);
  const uint32_t bytes = kEntrySize * uint32_t{count};
  // The entries must be in the stream before anything is allocated for them.
  if (!FitsIn(ReaderTell(reader), bytes, ReaderSize(reader))) return ST_NOT_FOUND;
  BlockOwner entries(BlockAlloc(bytes));
  if (!entries) return ST_NO_MEMORY;
  st = ReaderRead(&reader, bytes, entries.get());
  if (st != ST_OK) return st;
  IfdEntry exif{};
  return FindTag(ByteView(entries.get(), bytes), kTagExifIfd, order, &exif) ? ST_OK : ST_NOT_FOUND;
}

Status ReadMakeModel(const StreamPort& port, char* model, char* make) {
  Ifd0Window window;
  const Status st = window.Open(port);
  if (st != ST_OK) return st;
  const Status modelStatus = ReadText(window.reader(), window.ifd(), kTagModel, model);
  const Status makeStatus = ReadText(window.reader(), window.ifd(), kTagMake, make);
  return modelStatus != ST_OK ? modelStatus : makeStatus;
}

Status RewriteEmbeddedHeap(const StreamPort& port, const HeapObject& heap) {
  Ifd0Window window;
  Status st = window.Open(port);
  if (st != ST_OK) return st;
  const Ifd0& ifd = window.ifd();
  const BufferedReader& reader = *window.reader();
  DecodedEntry d{};
  st = ifd.Find(kTagEmbeddedHeap, &d);
  if (st != ST_OK) return st;
  const uint64_t length = uint64_t{heap.headerLength} + heap.heapLength;
  // A heap that grew must not overwrite what follows the tag's value.
  if (heap.block == nullptr || length > d.byteSize || length > BlockLength(heap.block) ||
      !FitsIn(d.field, length, ReaderSize(reader))) {
    return ST_SIZE_MISMATCH;
  }
  PortSeek(port.ops, kFromStart, static_cast<int32_t>(d.field), &st);
  if (st != ST_OK) return st;
  return PortWriteAll(port.ops, heap.block, static_cast<uint32_t>(length));
}

}  // namespace qd::tiff
