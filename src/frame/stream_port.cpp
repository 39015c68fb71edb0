#include "frame/stream_port.h"

#include <cstring>

namespace qd {
namespace {

// What a port's error variable holds before the host is called: a callback
// that leaves it untouched has failed, and reports this generic failure.
constexpr uint32_t kUnsetHostError = QD_E_FAILED;

// Records a host error in the port and turns it into the port's status.
void Report(StreamPort* self, uint32_t error, Status* status) {
  if (error != 0) {
    self->hostError = error;
    *status = ST_STREAM_FAILED;
  } else {
    *status = ST_OK;
  }
}

void Refuse(Status* status) { *status = ST_STREAM_FAILED; }

uint32_t HostMode(uint16_t mode) {
  switch (mode) {
    case kPortWrite: return QD_OPEN_WRITE;
    case kPortReadWrite: return QD_OPEN_UPDATE;
    default: return QD_OPEN_READ;
  }
}

uint32_t HostOrigin(uint16_t origin) {
  switch (origin) {
    case kFromStart: return QD_SEEK_START;
    case kFromCurrent: return QD_SEEK_CURRENT;
    default: return QD_SEEK_END;
  }
}

void OpOpen(StreamPort* self, uint16_t mode, Status* status) {
  const qdlStream* h = self->host;
  if (h->open == nullptr) return Refuse(status);
  uint32_t error = kUnsetHostError;
  ++self->hostCalls;
  h->open(h->context, HostMode(mode), &error);
  self->sizeKnown = false;
  Report(self, error, status);
}

void OpClose(StreamPort* self, Status* status) {
  const qdlStream* h = self->host;
  if (h->close == nullptr) return Refuse(status);
  uint32_t error = kUnsetHostError;
  ++self->hostCalls;
  h->close(h->context, &error);
  Report(self, error, status);
}

void OpRead(StreamPort* self, void* buffer, uint32_t* count, Status* status) {
  const qdlStream* h = self->host;
  if (h->read == nullptr) return Refuse(status);
  uint32_t error = kUnsetHostError;
  ++self->hostCalls;
  h->read(h->context, buffer, count, &error);
  Report(self, error, status);
}

void OpWrite(StreamPort* self, const void* buffer, uint32_t* count, Status* status) {
  const qdlStream* h = self->host;
  if (h->write == nullptr) return Refuse(status);
  uint32_t error = kUnsetHostError;
  ++self->hostCalls;
  h->write(h->context, buffer, count, &error);
  self->sizeKnown = false;
  Report(self, error, status);
}

void OpSeek(StreamPort* self, uint16_t origin, int32_t offset, Status* status) {
  const qdlStream* h = self->host;
  if (h->seek == nullptr) return Refuse(status);
  uint32_t error = kUnsetHostError;
  ++self->hostCalls;
  h->seek(h->context, HostOrigin(origin), offset, &error);
  Report(self, error, status);
}

uint32_t OpTell(StreamPort* self, Status* status) {
  const qdlStream* h = self->host;
  if (h->tell == nullptr) {
    Refuse(status);
    return 0;
  }
  uint32_t error = kUnsetHostError;
  ++self->hostCalls;
  const uint32_t position = h->tell(h->context, &error);
  Report(self, error, status);
  return position;
}

void OpAux(StreamPort* self, uint32_t value, Status* status) {
  const qdlStream* h = self->host;
  if (h->aux == nullptr) return Refuse(status);
  uint32_t error = kUnsetHostError;
  ++self->hostCalls;
  h->aux(h->context, value, &error);
  Report(self, error, status);
}

uint32_t OpSize(StreamPort* self, Status* status) {
  if (self->sizeKnown) {
    *status = ST_OK;
    return self->size;
  }
  // The host is left at the end: every transfer through the port that
  // follows positions it first, unless it knows the host stands there.
  const qdlStream* h = self->host;
  uint32_t error = 0, size = 0;
  ++self->hostCalls;
  h->seek(h->context, QD_SEEK_END, 0, &error);
  if (error == 0) {
    ++self->hostCalls;
    size = h->tell(h->context, &error);
  }
  Report(self, error, status);
  if (*status == ST_OK) {
    self->size = size;
    self->sizeKnown = true;
    NotePortAt(self, size);
  }
  return size;
}

}  // namespace

void MakeStreamPort(const qdlStream* stream, StreamPort* port) {
  port->ops = PortInterface{port, OpOpen, OpClose, OpRead, OpWrite, OpSeek, OpTell, OpAux, OpSize};
  port->host = stream;
  port->hostError = 0;
  port->hostCalls = 0;
  port->size = 0;
  port->sizeKnown = false;
  port->probing = false;
  port->head = nullptr;
  port->headLength = 0;
  port->at = 0;
  port->atCalls = 0;
}

uint32_t PortSize(const PortInterface& port, Status* status) {
  const uint32_t here = port.tell(port.self, status);
  if (*status != ST_OK) return 0;
  port.seek(port.self, kFromEnd, 0, status);
  if (*status != ST_OK) return 0;
  const uint32_t size = port.tell(port.self, status);
  if (*status != ST_OK) return 0;
  port.seek(port.self, kFromStart, static_cast<int32_t>(here), status);
  return size;
}

void PortRead(const PortInterface& port, void* buffer, uint32_t* count, Status* status) {
  port.read(port.self, buffer, count, status);
}

void PortWrite(const PortInterface& port, const void* buffer, uint32_t* count, Status* status) {
  port.write(port.self, buffer, count, status);
}

Status PortOpen(const PortInterface& port, uint16_t mode) {
  Status status = ST_OK;
  if (port.open != nullptr) port.open(port.self, mode, &status);
  return status;
}

Status PortClose(const PortInterface& port) {
  Status status = ST_OK;
  if (port.close != nullptr) port.close(port.self, &status);
  return status;
}

void PortSeek(const PortInterface& port, uint16_t origin, int32_t offset, Status* status) {
  *status = ST_OK;
  port.seek(port.self, origin, offset, status);
}

namespace {

// One loop for both directions over a port; each pass advances or fails.
template <typename Transfer>
Status PortTransferAll(uint32_t size, Status shortStatus, Transfer transfer) {
  uint32_t done = 0;
  while (done < size) {
    uint32_t count = size - done;
    Status status = ST_OK;
    transfer(done, &count, &status);
    if (status != ST_OK) return status;
    if (count == 0 || count > size - done) return shortStatus;
    done += count;
  }
  return ST_OK;
}

}  // namespace

void TakeFromHead(const StreamPort& port, uint32_t* offset, uint8_t** buffer, uint32_t* size) {
  if (port.head == nullptr || *offset >= port.headLength) return;
  uint32_t n = port.headLength - *offset;
  if (n > *size) n = *size;
  std::memcpy(*buffer, port.head + *offset, n);
  *offset += n;
  *buffer += n;
  *size -= n;
}

bool PortAt(const StreamPort& port, uint32_t offset) {
  return port.probing && port.atCalls == port.hostCalls && port.at == offset;
}

void NotePortAt(StreamPort* port, uint32_t offset) {
  port->at = offset;
  port->atCalls = port->hostCalls;
}

Status PortReadAt(const PortInterface& port, uint32_t offset, void* buffer, uint32_t size) {
  auto* bytes = static_cast<uint8_t*>(buffer);
  TakeFromHead(*port.self, &offset, &bytes, &size);
  if (size == 0) return ST_OK;
  Status status = ST_OK;
  if (!PortAt(*port.self, offset)) PortSeek(port, kFromStart, static_cast<int32_t>(offset), &status);
  if (status != ST_OK) return status;
  status = PortTransferAll(size, ST_PAST_END, [&](uint32_t at, uint32_t* count, Status* st) {
    PortRead(port, bytes + at, count, st);
  });
  if (status == ST_OK && offset + uint64_t{size} <= UINT32_MAX) NotePortAt(port.self, offset + size);
  return status;
}

Status PortWriteAll(const PortInterface& port, const void* buffer, uint32_t size) {
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  return PortTransferAll(size, ST_STREAM_FAILED, [&](uint32_t at, uint32_t* count, Status* st) {
    PortWrite(port, bytes + at, count, st);
  });
}

uint32_t StreamSize(const qdlStream* stream, uint32_t* error) {
  *error = 0;
  const uint32_t here = stream->tell(stream->context, error);
  if (*error != 0) return 0;
  stream->seek(stream->context, QD_SEEK_END, 0, error);
  if (*error != 0) return 0;
  const uint32_t size = stream->tell(stream->context, error);
  if (*error != 0) return 0;
  stream->seek(stream->context, QD_SEEK_START, static_cast<int32_t>(here), error);
  return size;
}

namespace {

// One loop for both directions: Transfer calls the host once for `count` bytes.
template <typename Transfer>
void TransferExact(uint32_t size, uint32_t failure, uint32_t* error, Transfer transfer) {
  uint32_t done = 0;
  while (done < size) {
    const uint32_t remaining = size - done;
    uint32_t count = remaining;
    *error = 0;
    transfer(done, &count, error);
    if (*error != 0) return;
    // A host that moves nothing, or claims more than asked, cannot be trusted
    // to make progress; each pass otherwise advances by at least one byte.
    if (count == 0 || count > remaining) {
      *error = failure;
      return;
    }
    done += count;
  }
  *error = 0;
}

}  // namespace

void StreamReadExact(const qdlStream* stream, void* buffer, uint32_t size, uint32_t errorBase,
                     uint32_t* error) {
  auto* bytes = static_cast<uint8_t*>(buffer);
  TransferExact(size, errorBase | 0xA7u, error, [&](uint32_t at, uint32_t* count, uint32_t* err) {
    stream->read(stream->context, bytes + at, count, err);
  });
}

void StreamWriteExact(const qdlStream* stream, const void* buffer, uint32_t size,
                      uint32_t errorBase, uint32_t* error) {
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  TransferExact(size, errorBase | 0xA8u, error, [&](uint32_t at, uint32_t* count, uint32_t* err) {
    stream->write(stream->context, bytes + at, count, err);
  });
}

uint32_t StreamWriteWhole(const qdlStream* stream, const void* buffer, uint32_t size) {
  uint32_t error = 0;
  StreamOpen(stream, QD_OPEN_WRITE, &error);
  if (error != 0) return error;
  StreamWriteExact(stream, buffer, size, kErrorBase, &error);
  uint32_t closed = 0;
  StreamClose(stream, &closed);
  return error != 0 ? error : closed;
}

void StreamOpen(const qdlStream* stream, uint32_t mode, uint32_t* error) {
  *error = 0;
  if (stream->open != nullptr) stream->open(stream->context, mode, error);
}

void StreamClose(const qdlStream* stream, uint32_t* error) {
  *error = 0;
  if (stream->close != nullptr) stream->close(stream->context, error);
}

void StreamSeek(const qdlStream* stream, uint32_t origin, int32_t offset, uint32_t* error) {
  *error = 0;
  stream->seek(stream->context, origin, offset, error);
}

}  // namespace qd
