// A read buffer over a port, for the segment and IFD parsers. The reader knows
// the stream's length from the moment it opens and never reads past it.
// Invariant after every read: cursor <= valid <= capacity; the logical
// position is base + cursor.
#pragma once

#include <cstdint>

#include "frame/byte_order.h"
#include "frame/stream_port.h"

namespace qd {

struct BufferedReader {
  uint32_t unused;
  uint8_t* buffer;      // library block of `capacity` bytes
  uint32_t dirty;       // set only by a writer that fills the buffer
  uint32_t streamSize;  // stream length when the reader opened
  uint32_t capacity;
  uint32_t base;    // stream position of buffer[0]
  uint32_t cursor;  // offset of the next byte within the buffer
  uint32_t valid;   // bytes of the buffer that hold stream data
  PortInterface port;
  // Where the reader's own last transfer left the host, while no other host
  // call went through the port since (hostCalls then): a read from there
  // needs no seek.
  uint32_t hostAt;
  uint32_t hostCalls;
  bool hostKnown;
  bool inMemory;    // the buffer is the whole stream, held by the caller; no port
  bool ownsBuffer;  // the buffer is a block the reader frees on closing
};

// Origins of ReaderSeek.
enum ReaderOrigin : uint16_t { kReaderAbsolute = 0, kReaderRelative = 1 };

// The buffer size the TIFF and Exif probes use.
constexpr uint32_t kProbeReaderCapacity = 1024;

// A failing size query is returned unchanged; a failed allocation is
// ST_READER_NO_MEMORY. The reader is closed again only after success. With
// `storage` (`capacity` bytes that outlive the reader) nothing is allocated.
Status ReaderOpen(const StreamPort& port, uint32_t capacity, BufferedReader* reader, uint8_t* storage = nullptr);
// A reader over bytes already in memory: the window is all of them, and no
// host is ever called. The bytes must outlive the reader.
void ReaderOpenMemory(const uint8_t* data, uint32_t size, BufferedReader* reader);
// Relative seeks that land before 0 stop at 0. Seeking calls no host (the
// next transfer positions it); a position past 2^32 - 1 is ST_PAST_END.
Status ReaderSeekAny(BufferedReader* reader, int64_t offset, uint16_t origin);
// ST_PAST_END when the stream ends before base + cursor + count (also when the
// host delivers less than the stream's length promised); the position is then
// unchanged. Reads larger than the buffer take what the window holds and the
// rest straight from the host.
Status ReaderReadAny(BufferedReader* reader, uint32_t count, void* destination);

// Most seeks and reads stay inside a window with nothing to write: those are
// done in line, the rest by the functions above.
inline Status ReaderSeek(BufferedReader* reader, int64_t offset, uint16_t origin) {
  BufferedReader& r = *reader;
  if (r.dirty != 0 || origin != kReaderAbsolute || offset < r.base || offset - r.base >= r.valid) {
    return ReaderSeekAny(reader, offset, origin);
  }
  r.cursor = static_cast<uint32_t>(offset - r.base);
  return ST_OK;
}
inline Status ReaderRead(BufferedReader* reader, uint32_t count, void* destination) {
  BufferedReader& r = *reader;
  if (r.dirty != 0 || !FitsIn(r.cursor, count, r.valid)) return ReaderReadAny(reader, count, destination);
  CopyBytes(static_cast<uint8_t*>(destination), r.buffer + r.cursor, count);
  r.cursor += count;
  return ST_OK;
}
// Flushes (a failing flush is ignored), releases the buffer and returns the
// release's status.
Status ReaderClose(BufferedReader* reader);
inline uint32_t ReaderSize(const BufferedReader& reader) { return reader.streamSize; }
inline uint32_t ReaderTell(const BufferedReader& reader) { return reader.base + reader.cursor; }

// A reader that closes itself on scope exit when it holds a buffer; it is a
// BufferedReader, so the reader functions take it as one. A window of the
// probes' size is its own, with nothing to allocate: a block of that size
// and the block's header would miss the allocator's fast path.
class ScopedReader : public BufferedReader {
 public:
  ScopedReader() : BufferedReader{} {}
  ScopedReader(const ScopedReader&) = delete;
  ScopedReader& operator=(const ScopedReader&) = delete;
  ~ScopedReader() {
    if (buffer != nullptr) (void)ReaderClose(this);
  }
  Status Open(const StreamPort& port, uint32_t capacity) {
    return ReaderOpen(port, capacity, this, capacity <= sizeof window_ ? window_ : nullptr);
  }

 private:
  uint8_t window_[kProbeReaderCapacity];
};

}  // namespace qd
