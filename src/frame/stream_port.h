// The library's view of a host stream. Parsers reach the host only through a
// port (or a buffered reader on top of one); the direct routines below are for
// exported functions and the few subsystems that drive a host stream themselves.
#pragma once

#include <cstdint>

#include "frame/status.h"
#include "qdparse.h"

namespace qd {

// Port open modes and seek origins, mapped to the host's own values.
enum PortMode : uint16_t { kPortRead = 0, kPortWrite = 1, kPortReadWrite = 2 };
enum PortOrigin : uint16_t { kFromStart = 0, kFromCurrent = 1, kFromEnd = 2 };

struct StreamPort;

// Port operations report through their last argument: 0, or ST_STREAM_FAILED
// when the host stored a nonzero error (kept in StreamPort::hostError).
using PortOpenOp = void (*)(StreamPort* self, uint16_t mode, Status* status);
using PortCloseOp = void (*)(StreamPort* self, Status* status);
using PortReadOp = void (*)(StreamPort* self, void* buffer, uint32_t* count, Status* status);
using PortWriteOp = void (*)(StreamPort* self, const void* buffer, uint32_t* count, Status* status);
using PortSeekOp = void (*)(StreamPort* self, uint16_t origin, int32_t offset, Status* status);
using PortTellOp = uint32_t (*)(StreamPort* self, Status* status);
using PortAuxOp = void (*)(StreamPort* self, uint32_t value, Status* status);
using PortSizeOp = uint32_t (*)(StreamPort* self, Status* status);

// The nine words every parser treats as a port's interface.
struct PortInterface {
  StreamPort* self;
  PortOpenOp open;
  PortCloseOp close;
  PortReadOp read;
  PortWriteOp write;
  PortSeekOp seek;
  PortTellOp tell;
  PortAuxOp aux;
  PortSizeOp size;
};

struct StreamPort {
  PortInterface ops;
  const qdlStream* host;
  uint32_t hostError;  // the last nonzero error a host callback stored
  // Host callbacks made through the ops: a reader that finds the count
  // unchanged since its own transfer knows where the host stands.
  uint32_t hostCalls;
  // The stream's length, asked once per call: every reader of a call shares it.
  // A write through the port may lengthen the stream and forgets it.
  uint32_t size;
  bool sizeKnown;
  // While recognition runs: the stream's first bytes, read once for every
  // probe, and where the last transfer through the port left the host (good
  // while hostCalls == atCalls; nothing moves the host behind the port then).
  bool probing;
  const uint8_t* head;
  uint32_t headLength;
  uint32_t at;
  uint32_t atCalls;
};

// Copies what [offset, offset + size) has in the head and narrows the range
// to the rest.
void TakeFromHead(const StreamPort& port, uint32_t* offset, uint8_t** buffer, uint32_t* size);
// True when the host is known to stand at `offset` (recognition only).
bool PortAt(const StreamPort& port, uint32_t offset);
void NotePortAt(StreamPort* port, uint32_t offset);

// Fills a port over the host record; calls nothing.
void MakeStreamPort(const qdlStream* stream, StreamPort* port);

// Routines over a port. A null host callback behind an operation fails it with
// ST_STREAM_FAILED instead of being called.
uint32_t PortSize(const PortInterface& port, Status* status);
// One host transfer; a short transfer is not detected here.
void PortRead(const PortInterface& port, void* buffer, uint32_t* count, Status* status);
void PortWrite(const PortInterface& port, const void* buffer, uint32_t* count, Status* status);
Status PortOpen(const PortInterface& port, uint16_t mode);
Status PortClose(const PortInterface& port);
void PortSeek(const PortInterface& port, uint16_t origin, int32_t offset, Status* status);
// Seeks to `offset` and reads exactly `size` bytes, asking again after partial
// transfers; a stream that ends first is ST_PAST_END. Bytes of the head are
// copied, and a host known to stand at `offset` is not sought.
Status PortReadAt(const PortInterface& port, uint32_t offset, void* buffer, uint32_t size);
// Writes all `size` bytes at the current position, asking again after partial
// transfers; a host that takes nothing or claims too much is ST_STREAM_FAILED.
Status PortWriteAll(const PortInterface& port, const void* buffer, uint32_t size);

// Routines that call the host record directly. Each clears *error and then
// reports the host's own error value in it.
uint32_t StreamSize(const qdlStream* stream, uint32_t* error);
// Transfer exactly `size` bytes, asking again after partial transfers. A
// transfer of 0 bytes or of more than asked ends with errorBase | 0xA7 (read)
// or errorBase | 0xA8 (write).
void StreamReadExact(const qdlStream* stream, void* buffer, uint32_t size, uint32_t errorBase,
                     uint32_t* error);
void StreamWriteExact(const qdlStream* stream, const void* buffer, uint32_t size,
                      uint32_t errorBase, uint32_t* error);
// Opens `stream` for writing, writes all of `buffer` and closes it: the first
// error, else the close's.
uint32_t StreamWriteWhole(const qdlStream* stream, const void* buffer, uint32_t size);
// Call open/close when the host supplied them; absent callbacks succeed.
void StreamOpen(const qdlStream* stream, uint32_t mode, uint32_t* error);
void StreamClose(const qdlStream* stream, uint32_t* error);
// Host origins (QD_SEEK_START/CURRENT/END).
void StreamSeek(const qdlStream* stream, uint32_t origin, int32_t offset, uint32_t* error);

// The error base every caller passes to the exact-transfer loops.
constexpr uint32_t kErrorBase = 0x04000000u;

}  // namespace qd
