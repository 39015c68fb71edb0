// A scriptable in-memory host stream for tests: it logs every call, can fail
// the N-th call of a chosen callback (or the N-th call of any), deliver short
// or over-long transfers, leave callbacks null, and records every byte range
// written.
#pragma once

#include <cstdint>
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
  uint32_t offset;
  uint32_t length;
};

class TestStream {
 public:
  explicit TestStream(std::vector<uint8_t> data = {});
  TestStream(const TestStream&) = delete;
  TestStream& operator=(const TestStream&) = delete;

  // The host record; its context is this object.
  qdlStream* stream() { return &record_; }
  std::vector<uint8_t>& data() { return data_; }
  const std::vector<uint8_t>& data() const { return data_; }
  uint32_t position() const { return position_; }

  const std::vector<Call>& calls() const { return calls_; }
  const std::vector<WriteRange>& writes() const { return writes_; }
  int CountOf(Callback cb) const;
  int TotalCalls() const { return static_cast<int>(calls_.size()); }
  bool IsOpen() const { return openDepth_ > 0; }
  uint32_t lastOpenMode() const { return lastOpenMode_; }
  void ClearLog();

  // The nth (1-based) call of `cb` stores `error` and does nothing else.
  void FailCall(Callback cb, int nth, uint32_t error);
  // The nth call of any callback fails the same way; 0 disarms.
  void FailNthCall(int nth, uint32_t error);
  // True once a scripted failure has been delivered.
  bool FaultFired() const { return faultFired_; }
  // Reads and writes move at most `chunk` bytes per call (0 = no limit).
  void LimitTransfers(uint32_t chunk) { chunk_ = chunk; }
  // The nth read (or write) reports `count` bytes whatever it moved.
  void ReportCount(Callback cb, int nth, uint32_t count);
  // The nth read moves at most `count` bytes.
  void LimitRead(int nth, uint32_t count) { readLimits_.push_back({Callback::Read, nth, count}); }
  // Leave a callback out of the record.
  void SetNull(Callback cb);
  // Succeed without storing 0 in the error value (a faulty host).
  void LeaveErrorUntouched(bool on) { leaveError_ = on; }
  // Writes may not grow the data past its current length.
  void FixSize(bool on) { fixedSize_ = on; }

 private:
  struct Fault {
    Callback callback;
    int nth;
    uint32_t value;
  };

  bool Enter(Callback cb, uint32_t arg, int32_t offset, uint32_t* error);
  void Succeed(uint32_t* error) const {
    if (!leaveError_) *error = 0;
  }
  uint32_t ReportedCount(Callback cb, uint32_t moved);

  static uint32_t QD_CALLBACK Open(void* ctx, uint32_t mode, uint32_t* error);
  static uint32_t QD_CALLBACK Close(void* ctx, uint32_t* error);
  static uint32_t QD_CALLBACK Read(void* ctx, void* buffer, uint32_t* count, uint32_t* error);
  static uint32_t QD_CALLBACK Write(void* ctx, const void* buffer, uint32_t* count, uint32_t* error);
  static uint32_t QD_CALLBACK Seek(void* ctx, uint32_t origin, int32_t offset, uint32_t* error);
  static uint32_t QD_CALLBACK Tell(void* ctx, uint32_t* error);
  static uint32_t QD_CALLBACK Aux(void* ctx, uint32_t value, uint32_t* error);

  qdlStream record_{};
  std::vector<uint8_t> data_;
  uint32_t position_ = 0;
  std::vector<Call> calls_;
  std::vector<WriteRange> writes_;
  std::vector<Fault> faults_;
  std::vector<Fault> countLies_;
  std::vector<Fault> readLimits_;
  int failNth_ = 0;
  uint32_t failNthError_ = 0;
  bool faultFired_ = false;
  uint32_t chunk_ = 0;
  bool leaveError_ = false;
  bool fixedSize_ = false;
  int openDepth_ = 0;
  uint32_t lastOpenMode_ = 0;
};

}  // namespace qdtest
