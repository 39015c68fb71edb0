// Typed property records written to a host stream: {u16 code, u32 size,
// payload}, the framing the Exif writer reads back. Shared by both parse
// paths, with the camera-model predicate and the standard field writer.
#pragma once

#include <cstdint>
#include <cstring>

#include "frame/byte_order.h"
#include "frame/stream_port.h"
#include "qdparse.h"

namespace qd::extract {

// An output stream is used only when it is given with a write callback.
inline bool Usable(const qdlStream* s) { return s != nullptr && s->write != nullptr; }

// Records written in order until the first failure, which is kept: the
// host's error, QD_E_SHORT_WRITE or QD_E_NO_MEMORY. They are gathered and
// handed to the host a few KiB at a time; one too large for that goes out
// by itself.
class RecordSink {
 public:
  explicit RecordSink(const qdlStream* out) : out_(out) {}
  RecordSink(const RecordSink&) = delete;
  RecordSink& operator=(const RecordSink&) = delete;

  // One record whose payload is `payload` followed by `more`: gathered in
  // line while the buffer holds it, so a record of constant size is a few stores.
  void Put(uint16_t code, const void* payload, uint32_t size, const void* more = nullptr, uint32_t moreSize = 0) {
    const uint64_t length = uint64_t{size} + moreSize;
    if (result_ != QD_OK || 6 + length > sizeof buffer_ - held_) return PutInPieces(code, payload, size, more, moreSize);
    uint8_t* at = buffer_ + held_;
    PutLE16(code, at);
    PutLE32(static_cast<uint32_t>(length), at + 2);
    CopyBytes(at + 6, payload, size);
    CopyBytes(at + 6 + size, more, moreSize);
    held_ += static_cast<uint32_t>(6 + length);
  }
  void Put16(uint16_t code, uint16_t v) { Put(code, &v, 2); }
  // Writes what is still gathered; the result of every record.
  uint32_t Finish();

 private:
  void PutInPieces(uint16_t code, const void* payload, uint32_t size, const void* more, uint32_t moreSize);
  void Append(const void* bytes, uint32_t n);
  void Flush();

  const qdlStream* out_;
  uint32_t result_ = QD_OK;
  uint32_t held_ = 0;
  uint8_t buffer_[4096];
};

// Opens `out` for writing, lets `write` put its records and closes it; the
// first failed record wins over a close error.
template <typename Write>
uint32_t WriteRecordStream(const qdlStream* out, Write&& write) {
  uint32_t error = 0;
  StreamOpen(out, QD_OPEN_WRITE, &error);
  if (error != 0) return error;
  RecordSink sink(out);
  write(sink);
  const uint32_t result = sink.Finish();
  StreamClose(out, &error);
  return result != QD_OK ? result : error;
}

// The user comment as a coded-comment record on a stream of its own: the
// 8-byte character code (zeros without one; its last byte always 0), the
// length and the text.
uint32_t WriteCommentStream(const qdlStream* out, const uint8_t* code, const uint8_t* text, uint32_t n);

// Element k of a value held in host order (uint16_t or uint32_t), 0 when the
// value is absent or too short for it.
template <typename T>
T HostElement(bool found, const uint8_t* data, uint32_t size, uint32_t k) {
  if (!found || data == nullptr || !FitsIn(sizeof(T) * uint64_t{k}, sizeof(T), size)) return 0;
  T v;
  std::memcpy(&v, data + sizeof(T) * k, sizeof v);
  return v;
}

// A 16-bit array that starts with its own length in bytes; word k is used
// only when that length (bounded by the buffer) covers it.
struct WordArray {
  const uint8_t* bytes = nullptr;  // host order, byte aligned
  uint32_t length = 0;             // usable bytes

  bool present() const { return bytes != nullptr; }
  bool Covers(uint32_t k) const { return bytes != nullptr && length >= 2 * k + 2; }
  uint16_t At(uint32_t k) const { return HostElement<uint16_t>(true, bytes, length, k); }
  static WordArray Of(const uint8_t* bytes, uint32_t bufferBytes);
};

// Sources of the standard records; any may be null.
struct StandardFields {
  const uint8_t* record02 = nullptr;  // 4 bytes
  const uint8_t* record03 = nullptr;  // 12 bytes
  const uint8_t* record04 = nullptr;  // 8 bytes
  const uint8_t* record08 = nullptr;  // 26 bytes
  WordArray shotInfo;
  const uint8_t* record07 = nullptr;  // 6 bytes: u32 angle, u16 mirrored
  const uint16_t* record09 = nullptr;
  WordArray cameraSettings;
  const uint8_t* record0D = nullptr;  // 32 bytes
  const uint32_t* record0E = nullptr;
  const uint16_t* record0C = nullptr;  // ISO speed
  const uint16_t* record0F = nullptr;
};

// Writes the standard records in their fixed order, each when its condition
// holds, unless none of the first five sources is given.
void WriteStandardFields(RecordSink& sink, const char* model, bool modelFlag, const StandardFields& f);

}  // namespace qd::extract
