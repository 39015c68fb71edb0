#include "frame/buffered_reader.h"

#include <cstring>

#include "frame/byte_order.h"
#include "frame/memory_block.h"

namespace qd {
namespace {

Status Flush(BufferedReader* r) {
  if (r->dirty == 0) return ST_OK;
  r->dirty = 0;
  if (r->cursor == 0) return ST_OK;
  Status status = ST_OK;
  PortSeek(r->port, kFromStart, static_cast<int32_t>(r->base), &status);
  if (status != ST_OK) return status;
  uint32_t count = r->cursor;
  PortWrite(r->port, r->buffer, &count, &status);
  if (status != ST_OK) return status;
  r->base += r->cursor;
  r->cursor = 0;
  r->valid = 0;
  return ST_OK;
}

bool HostAt(const BufferedReader& r, uint32_t position) {
  return r.hostKnown && r.hostAt == position && r.hostCalls == r.port.self->hostCalls;
}

// Reads bytes the stream's size says are there, asking again after partial
// transfers. A host that stops early or claims more than asked has failed;
// that is not the end of the file. A host already at `at` is not sought.
Status ReadKnownBytes(BufferedReader* r, uint32_t at, uint8_t* into, uint32_t count) {
  if (r->inMemory) return count == 0 ? ST_OK : ST_PAST_END;
  TakeFromHead(*r->port.self, &at, &into, &count);
  if (count == 0) return ST_OK;
  Status status = ST_OK;
  if (!HostAt(*r, at) && !PortAt(*r->port.self, at)) {
    PortSeek(r->port, kFromStart, static_cast<int32_t>(at), &status);
  }
  r->hostKnown = false;
  if (status != ST_OK) return status;
  uint32_t done = 0;
  while (done < count) {
    uint32_t n = count - done;
    PortRead(r->port, into + done, &n, &status);
    if (status != ST_OK) return status;
    if (n == 0 || n > count - done) return ST_STREAM_FAILED;
    done += n;
  }
  r->hostAt = at + count;
  r->hostCalls = r->port.self->hostCalls;
  r->hostKnown = at + uint64_t{count} <= UINT32_MAX;
  if (r->hostKnown) NotePortAt(r->port.self, r->hostAt);
  return ST_OK;
}

}  // namespace

Status ReaderOpen(const StreamPort& port, uint32_t capacity, BufferedReader* reader, uint8_t* storage) {
  std::memset(reader, 0, sizeof *reader);
  reader->port = port.ops;
  Status status = ST_OK;
  const uint32_t callsBefore = port.hostCalls;
  const uint32_t size = reader->port.size(reader->port.self, &status);
  if (status != ST_OK) return status;
  // A size asked just now left the host at the end.
  reader->hostKnown = port.hostCalls != callsBefore;
  reader->hostAt = size;
  reader->hostCalls = port.hostCalls;
  reader->ownsBuffer = storage == nullptr;
  reader->buffer = storage != nullptr ? storage : BlockAlloc(capacity);
  if (reader->buffer == nullptr) return ST_READER_NO_MEMORY;
  reader->capacity = capacity;
  reader->streamSize = size;
  return ST_OK;
}

void ReaderOpenMemory(const uint8_t* data, uint32_t size, BufferedReader* reader) {
  std::memset(reader, 0, sizeof *reader);
  reader->buffer = const_cast<uint8_t*>(data);  // never written: no port to flush to
  reader->capacity = size;
  reader->valid = size;
  reader->streamSize = size;
  reader->inMemory = true;
}

Status ReaderSeekAny(BufferedReader* r, int64_t offset, uint16_t origin) {
  Status status = Flush(r);
  if (status != ST_OK) return status;
  int64_t target = 0;
  if (origin == kReaderAbsolute) {
    target = offset;
  } else if (origin == kReaderRelative) {
    target = int64_t{r->base} + r->cursor + offset;
    if (target < 0) target = 0;
  } else {
    return ST_BAD_ORIGIN;
  }
  if (target < 0 || target > int64_t{UINT32_MAX}) return ST_PAST_END;
  const auto position = static_cast<uint32_t>(target);
  if (r->inMemory) {  // the window stays; a position past it fails the next read
    r->cursor = position;
    return ST_OK;
  }
  if (position >= r->base && position - r->base < r->valid) {
    r->cursor = position - r->base;
    return ST_OK;
  }
  r->base = position;
  r->cursor = 0;
  r->valid = 0;
  return ST_OK;
}

Status ReaderReadAny(BufferedReader* r, uint32_t count, void* destination) {
  Status status = Flush(r);
  if (status != ST_OK) return status;
  const uint64_t position = uint64_t{r->base} + r->cursor;
  if (!FitsIn(position, count, r->streamSize)) return ST_PAST_END;
  const auto p = static_cast<uint32_t>(position);  // <= streamSize, so it fits
  auto* out = static_cast<uint8_t*>(destination);

  if (count > r->capacity) {
    // What the window already holds is not asked for again.
    uint32_t have = 0;
    if (p >= r->base && p - r->base < r->valid) {
      have = r->valid - (p - r->base);
      if (have > count) have = count;
      std::memcpy(out, r->buffer + (p - r->base), have);
    }
    status = ReadKnownBytes(r, p + have, out + have, count - have);
    if (status != ST_OK) return status;
    r->base = p + count;
    r->cursor = 0;
    r->valid = 0;
    return ST_OK;
  }

  if (!FitsIn(r->cursor, count, r->valid)) {
    const uint32_t left = r->streamSize - p;
    const uint32_t n = left < r->capacity ? left : r->capacity;
    // The window is refilled from p whatever happens, so a failed refill
    // leaves nothing stale behind; the logical position stays p.
    status = ReadKnownBytes(r, p, r->buffer, n);
    r->base = p;
    r->cursor = 0;
    r->valid = status == ST_OK ? n : 0;
    if (status != ST_OK) return status;
  }
  if (count != 0) std::memcpy(out, r->buffer + r->cursor, count);
  r->cursor += count;
  return ST_OK;
}

Status ReaderClose(BufferedReader* r) {
  (void)Flush(r);
  const Status status = r->ownsBuffer ? BlockFree(r->buffer) : ST_OK;
  r->buffer = nullptr;
  return status;
}

}  // namespace qd
