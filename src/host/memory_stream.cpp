// qdlStreams over memory: fixed (caller memory, read-only or written in
// place up to its size) and growable (a buffer of our own that grows on
// write, for output).
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "host_stream.h"

namespace qdh {
namespace {

enum class Kind { kReadOnly, kWritable, kGrowable };

struct MemoryContext {
  uint8_t* data;      // caller memory, or our own block for the growable kind
  uint32_t length;    // bytes of content
  uint32_t capacity;  // bytes available at `data`
  uint32_t position;  // may lie past `length`
  uint32_t mode;      // the open mode; 0 while closed
  Kind kind;
};

MemoryContext* Context(void* context) { return static_cast<MemoryContext*>(context); }

bool IsOpen(const MemoryContext* c) { return c != nullptr && c->mode != 0; }

// Makes room for `needed` bytes (needed <= kMaxPosition). Doubling keeps a
// long run of small writes linear; the block never exceeds kMaxPosition.
uint32_t Reserve(MemoryContext* c, uint64_t needed) {
  if (needed <= c->capacity) return 0;
  if (c->kind != Kind::kGrowable) return QDH_E_NO_SPACE;
  uint64_t grown = c->capacity < 256 ? 256 : uint64_t{c->capacity} * 2;
  if (grown < needed) grown = needed;
  if (grown > kMaxPosition) grown = kMaxPosition;
  if (grown > SIZE_MAX) return QDH_E_NO_MEMORY;
  void* block = std::realloc(c->data, static_cast<size_t>(grown));
  if (block == nullptr) return QDH_E_NO_MEMORY;
  c->data = static_cast<uint8_t*>(block);
  c->capacity = static_cast<uint32_t>(grown);
  return 0;
}

uint32_t QD_CALLBACK MemoryOpen(void* context, uint32_t mode, uint32_t* error) {
  MemoryContext* c = Context(context);
  if (c == nullptr) return Finish(error, QDH_E_INVALID_ARG);
  if (!ValidMode(mode)) return Finish(error, QDH_E_BAD_MODE);
  if (c->mode != 0) return Finish(error, QDH_E_ALREADY_OPEN);
  if (c->kind == Kind::kReadOnly && mode != QD_OPEN_READ) return Finish(error, QDH_E_READ_ONLY);
  if (mode == QD_OPEN_WRITE) c->length = 0;
  c->mode = mode;
  c->position = 0;
  return Finish(error, 0);
}

uint32_t QD_CALLBACK MemoryClose(void* context, uint32_t* error) {
  MemoryContext* c = Context(context);
  if (!IsOpen(c)) return Finish(error, QDH_E_NOT_OPEN);
  c->mode = 0;
  return Finish(error, 0);
}

uint32_t QD_CALLBACK MemoryRead(void* context, void* buffer, uint32_t* count, uint32_t* error) {
  MemoryContext* c = Context(context);
  if (count == nullptr) return Finish(error, QDH_E_INVALID_ARG);
  const uint32_t asked = *count;
  *count = 0;
  if (!IsOpen(c)) return Finish(error, QDH_E_NOT_OPEN);
  if (buffer == nullptr && asked != 0) return Finish(error, QDH_E_INVALID_ARG);
  if (c->position >= c->length) return Finish(error, 0);
  const uint32_t available = c->length - c->position;
  const uint32_t n = asked < available ? asked : available;
  if (n != 0) std::memcpy(buffer, c->data + c->position, n);
  c->position += n;  // stays <= length
  *count = n;
  return Finish(error, 0);
}

uint32_t QD_CALLBACK MemoryWrite(void* context, const void* buffer, uint32_t* count,
                                 uint32_t* error) {
  MemoryContext* c = Context(context);
  if (count == nullptr) return Finish(error, QDH_E_INVALID_ARG);
  const uint32_t offered = *count;
  *count = 0;
  if (!IsOpen(c)) return Finish(error, QDH_E_NOT_OPEN);
  if (c->mode == QD_OPEN_READ) return Finish(error, QDH_E_READ_ONLY);
  if (buffer == nullptr && offered != 0) return Finish(error, QDH_E_INVALID_ARG);
  const uint64_t end = uint64_t{c->position} + offered;
  if (end > kMaxPosition) return Finish(error, QDH_E_TOO_LARGE);
  if (offered == 0) return Finish(error, 0);
  if (const uint32_t code = Reserve(c, end)) return Finish(error, code);

  // A write past the end leaves no stale bytes in the gap.
  if (c->position > c->length) std::memset(c->data + c->length, 0, c->position - c->length);
  std::memcpy(c->data + c->position, buffer, offered);
  c->position = static_cast<uint32_t>(end);
  if (c->position > c->length) c->length = c->position;
  *count = offered;
  return Finish(error, 0);
}

uint32_t QD_CALLBACK MemorySeek(void* context, uint32_t origin, int32_t offset,
                                uint32_t* error) {
  MemoryContext* c = Context(context);
  if (!IsOpen(c)) return Finish(error, QDH_E_NOT_OPEN);
  uint64_t target = 0;
  if (const uint32_t code = ResolveSeek(origin, offset, c->position, c->length, &target)) {
    return Finish(error, code);
  }
  c->position = static_cast<uint32_t>(target);  // ResolveSeek keeps it <= kMaxPosition
  return Finish(error, 0);
}

uint32_t QD_CALLBACK MemoryTell(void* context, uint32_t* error) {
  MemoryContext* c = Context(context);
  if (!IsOpen(c)) {
    Finish(error, QDH_E_NOT_OPEN);
    return 0;
  }
  Finish(error, 0);
  return c->position;
}

uint32_t Init(qdlStream* stream, void* data, uint32_t size, Kind kind) {
  if (stream == nullptr) return QDH_E_INVALID_ARG;
  std::memset(stream, 0, sizeof *stream);
  if (data == nullptr && size != 0) return QDH_E_INVALID_ARG;
  auto* c = static_cast<MemoryContext*>(std::calloc(1, sizeof(MemoryContext)));
  if (c == nullptr) return QDH_E_NO_MEMORY;
  c->data = static_cast<uint8_t*>(data);
  c->length = size;
  c->capacity = size;
  c->kind = kind;

  stream->context = c;
  stream->open = MemoryOpen;
  stream->close = MemoryClose;
  stream->read = MemoryRead;
  stream->write = MemoryWrite;
  stream->seek = MemorySeek;
  stream->tell = MemoryTell;
  return 0;
}

}  // namespace

bool IsMemoryStream(const qdlStream* stream) {
  return stream->context != nullptr && stream->read == MemoryRead;
}

void ReleaseMemoryContext(void* context) {
  MemoryContext* c = Context(context);
  if (c->kind == Kind::kGrowable) std::free(c->data);
  std::free(c);
}

}  // namespace qdh

extern "C" {

uint32_t qdhMemoryStreamInit(qdlStream* stream, const void* data, uint32_t size) {
  // Never written through: the read-only kind refuses every write mode.
  return qdh::Init(stream, const_cast<void*>(data), size, qdh::Kind::kReadOnly);
}

uint32_t qdhMemoryStreamInitWritable(qdlStream* stream, void* data, uint32_t size) {
  return qdh::Init(stream, data, size, qdh::Kind::kWritable);
}

uint32_t qdhGrowableStreamInit(qdlStream* stream) {
  return qdh::Init(stream, nullptr, 0, qdh::Kind::kGrowable);
}

uint32_t qdhMemoryStreamData(const qdlStream* stream, const void** data, uint32_t* size) {
  if (stream == nullptr || data == nullptr || size == nullptr || !qdh::IsMemoryStream(stream)) {
    return QDH_E_INVALID_ARG;
  }
  const auto* c = static_cast<const qdh::MemoryContext*>(stream->context);
  *data = c->data;
  *size = c->length;
  return 0;
}

}  // extern "C"
