// In-memory host streams for tests. TestStream is scriptable: it logs every
// call, can fail the N-th call of a chosen callback (or the N-th call of any),
// deliver short or over-long transfers, leave callbacks null, and records
// every byte range written. CountingStream (counting_stream.h) shares its
// callbacks, keeps no log and only counts.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "qdparse.h"

namespace qdtest {

enum class Callback : uint8_t { Open, Close, Read, Write, Seek, Tell, Aux };
const char* CallbackName(Callback cb);

struct Call {
  Callback callback;
  uint32_t position;  // stream position when the call was made
  uint32_t arg;       // open: mode; seek: origin; read/write: count asked; aux: value
  int32_t offset;     // seek: offset
};

struct WriteRange {
  uint32_t offset, length;
};

// The callbacks over bytes that reads copy out of and writes grow, and the
// books both test streams keep of them; each shows its own part.
class MemoryStream {
 public:
  MemoryStream(const MemoryStream&) = delete;
  MemoryStream& operator=(const MemoryStream&) = delete;

  // The host record; its context is this object.
  qdlStream* stream() { return &record_; }
  uint32_t position() const { return position_; }

 protected:
  struct Fault {
    Callback callback;
    int nth;
    uint32_t value;
  };

  MemoryStream(std::vector<uint8_t> data, bool log);
  bool Enter(Callback cb, uint32_t arg, int32_t offset, uint32_t* error);
  uint32_t Reported(Callback cb, uint32_t moved) const;  // the count a transfer reports
  int CountOf(Callback cb) const;

  qdlStream record_{};
  std::vector<uint8_t> data_;      // where writes go, and what reads see unless `view_`
  const uint8_t* view_ = nullptr;  // caller bytes read in place, `viewSize_` of them
  uint32_t viewSize_ = 0;
  uint32_t position_ = 0;
  uint32_t badOrigin_ = 0x7E570001u, badTarget_ = 0x7E570002u;  // seek errors
  bool clearOnWrite_ = false;  // an open for writing empties the data

  bool log_;
  std::vector<Call> calls_;
  std::vector<WriteRange> writes_;
  std::vector<Fault> faults_, lies_, readLimits_;
  int failNth_ = 0;
  uint32_t failNthError_ = 0;
  bool faultFired_ = false;
  uint32_t chunk_ = 0;
  bool leaveError_ = false;
  int openDepth_ = 0;
  uint32_t lastOpenMode_ = 0;

  uint64_t callCount_ = 0, readCount_ = 0, bytesRead_ = 0;
  uint32_t highestRead_ = 0;
  std::vector<std::pair<uint32_t, uint32_t>> ranges_;  // offset, length of each read

 private:
  static uint32_t QD_CALLBACK Open(void* ctx, uint32_t mode, uint32_t* error);
  static uint32_t QD_CALLBACK Close(void* ctx, uint32_t* error);
  static uint32_t QD_CALLBACK Read(void* ctx, void* buffer, uint32_t* count, uint32_t* error);
  static uint32_t QD_CALLBACK Write(void* ctx, const void* buffer, uint32_t* count,
                                    uint32_t* error);
  static uint32_t QD_CALLBACK Seek(void* ctx, uint32_t origin, int32_t offset, uint32_t* error);
  static uint32_t QD_CALLBACK Tell(void* ctx, uint32_t* error);
  static uint32_t QD_CALLBACK Aux(void* ctx, uint32_t value, uint32_t* error);
};

class TestStream : public MemoryStream {
 public:
  explicit TestStream(std::vector<uint8_t> data = {}) : MemoryStream(std::move(data), true) {}

  std::vector<uint8_t>& data() { return data_; }
  const std::vector<uint8_t>& data() const { return data_; }

  const std::vector<Call>& calls() const { return calls_; }
  const std::vector<WriteRange>& writes() const { return writes_; }
  using MemoryStream::CountOf;
  int TotalCalls() const { return static_cast<int>(calls_.size()); }
  bool IsOpen() const { return openDepth_ > 0; }
  uint32_t lastOpenMode() const { return lastOpenMode_; }

  // The nth (1-based) call of `cb` stores `error` and does nothing else.
  void FailCall(Callback cb, int nth, uint32_t error) { faults_.push_back({cb, nth, error}); }
  // The nth call of any callback fails the same way; 0 disarms.
  void FailNthCall(int nth, uint32_t error);
  // True once a scripted failure has been delivered.
  bool FaultFired() const { return faultFired_; }
  // Reads and writes move at most `chunk` bytes per call (0 = no limit).
  void LimitTransfers(uint32_t chunk) { chunk_ = chunk; }
  // The nth read (or write) reports `count` bytes whatever it moved.
  void ReportCount(Callback cb, int nth, uint32_t count) { lies_.push_back({cb, nth, count}); }
  // The nth read moves at most `count` bytes.
  void LimitRead(int nth, uint32_t count) { readLimits_.push_back({Callback::Read, nth, count}); }
  // Leave a callback out of the record.
  void SetNull(Callback cb);
  // Succeed without storing 0 in the error value (a faulty host).
  void LeaveErrorUntouched(bool on) { leaveError_ = on; }
};

}  // namespace qdtest
