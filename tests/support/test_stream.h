// In-memory host streams for tests. TestStream is scriptable: it logs every
// call, can fail the N-th call of a chosen callback (or the N-th call of any),
// deliver short or over-long transfers, leave callbacks null, and records
// every byte range written. CountingStream (counting_stream.h) is one that
// also counts.
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
  uint32_t arg;  // open: mode; seek: origin; read/write: count asked; aux: value
};

struct WriteRange {
  uint32_t offset, length;
};

class TestStream {
 public:
  explicit TestStream(std::vector<uint8_t> data = {});
  TestStream(const TestStream&) = delete;
  TestStream& operator=(const TestStream&) = delete;

  // The host record; its context is this object.
  qdlStream* stream() { return &record_; }
  uint32_t position() const { return position_; }
  std::vector<uint8_t>& data() { return data_; }
  const std::vector<uint8_t>& data() const { return data_; }

  const std::vector<Call>& calls() const { return calls_; }
  const std::vector<WriteRange>& writes() const { return writes_; }
  int CountOf(Callback cb) const;
  int TotalCalls() const { return static_cast<int>(calls_.size()); }
  bool IsOpen() const { return openDepth_ > 0; }
  uint32_t lastOpenMode() const { return lastOpenMode_; }

  // The nth (1-based) call of `cb` stores `error` and does nothing else.
  void FailCall(Callback cb, int nth, uint32_t error) { steps_.push_back({kFail, cb, nth, error}); }
  // The nth call of any callback fails the same way; 0 disarms.
  void FailNthCall(int nth, uint32_t error) {
    failNth_ = nth;
    failNthError_ = error;
  }
  // True once a scripted failure has been delivered.
  bool FaultFired() const { return faultFired_; }
  // Reads and writes move at most `chunk` bytes per call (0 = no limit).
  void LimitTransfers(uint32_t chunk) { chunk_ = chunk; }
  // The nth read (or write) reports `count` bytes whatever it moved.
  void ReportCount(Callback cb, int nth, uint32_t count) {
    steps_.push_back({kReport, cb, nth, count});
  }
  // The nth read moves at most `count` bytes.
  void LimitRead(int nth, uint32_t count) {
    steps_.push_back({kLimit, Callback::Read, nth, count});
  }
  // Leave a callback out of the record.
  void SetNull(Callback cb);
  // Succeed without storing 0 in the error value (a faulty host).
  void LeaveErrorUntouched(bool on) { leaveError_ = on; }

 protected:
  enum Script : uint8_t { kFail, kReport, kLimit };
  struct Step {
    Script script;
    Callback callback;
    int nth;
    uint32_t value;
  };

  bool Enter(Callback cb, uint32_t arg, uint32_t* error);
  // The step scripted for the current call of `cb`, if any.
  const Step* Find(Script script, Callback cb) const;
  uint32_t Reported(Callback cb, uint32_t moved) const;  // the count a transfer reports

  qdlStream record_{};
  std::vector<uint8_t> data_;  // what reads see and writes grow
  uint32_t position_ = 0;
  bool clearOnWrite_ = false;  // an open for writing empties the data
  std::vector<Call> calls_;
  std::vector<WriteRange> writes_;
  std::vector<std::pair<uint32_t, uint32_t>> reads_;  // offset, length of each read
  std::vector<Step> steps_;
  int failNth_ = 0;
  uint32_t failNthError_ = 0;
  bool faultFired_ = false;
  uint32_t chunk_ = 0;
  bool leaveError_ = false;
  int openDepth_ = 0;
  uint32_t lastOpenMode_ = 0;

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

}  // namespace qdtest
