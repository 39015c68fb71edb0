#include "support/test_stream.h"

#include <algorithm>
#include <cstring>

namespace qdtest {

const char* CallbackName(Callback cb) {
  switch (cb) {
    case Callback::Open: return "open";
    case Callback::Close: return "close";
    case Callback::Read: return "read";
    case Callback::Write: return "write";
    case Callback::Seek: return "seek";
    case Callback::Tell: return "tell";
    case Callback::Aux: return "aux";
  }
  return "?";
}

TestStream::TestStream(std::vector<uint8_t> data) : data_(std::move(data)) {
  record_.context = this;
  record_.open = Open;
  record_.close = Close;
  record_.read = Read;
  record_.write = Write;
  record_.seek = Seek;
  record_.tell = Tell;
  record_.aux = Aux;
}

int TestStream::CountOf(Callback cb) const {
  return static_cast<int>(
      std::count_if(calls_.begin(), calls_.end(), [cb](const Call& c) { return c.callback == cb; }));
}

void TestStream::ClearLog() {
  calls_.clear();
  writes_.clear();
}

void TestStream::FailCall(Callback cb, int nth, uint32_t error) { faults_.push_back({cb, nth, error}); }

void TestStream::FailNthCall(int nth, uint32_t error) {
  failNth_ = nth;
  failNthError_ = error;
}

void TestStream::ReportCount(Callback cb, int nth, uint32_t count) {
  countLies_.push_back({cb, nth, count});
}

void TestStream::SetNull(Callback cb) {
  switch (cb) {
    case Callback::Open: record_.open = nullptr; break;
    case Callback::Close: record_.close = nullptr; break;
    case Callback::Read: record_.read = nullptr; break;
    case Callback::Write: record_.write = nullptr; break;
    case Callback::Seek: record_.seek = nullptr; break;
    case Callback::Tell: record_.tell = nullptr; break;
    case Callback::Aux: record_.aux = nullptr; break;
  }
}

// Logs the call; false when a scripted failure answers it instead.
bool TestStream::Enter(Callback cb, uint32_t arg, int32_t offset, uint32_t* error) {
  calls_.push_back({cb, position_, arg, offset});
  if (failNth_ != 0 && TotalCalls() == failNth_) {
    *error = failNthError_;
    faultFired_ = true;
    return false;
  }
  const int nth = CountOf(cb);
  for (const Fault& f : faults_) {
    if (f.callback == cb && f.nth == nth) {
      *error = f.value;
      faultFired_ = true;
      return false;
    }
  }
  return true;
}

uint32_t TestStream::ReportedCount(Callback cb, uint32_t moved) {
  const int nth = CountOf(cb);
  for (const Fault& f : countLies_) {
    if (f.callback == cb && f.nth == nth) return f.value;
  }
  return moved;
}

uint32_t QD_CALLBACK TestStream::Open(void* ctx, uint32_t mode, uint32_t* error) {
  auto* s = static_cast<TestStream*>(ctx);
  if (!s->Enter(Callback::Open, mode, 0, error)) return 0;
  ++s->openDepth_;
  s->lastOpenMode_ = mode;
  s->position_ = 0;
  s->Succeed(error);
  return 0;
}

uint32_t QD_CALLBACK TestStream::Close(void* ctx, uint32_t* error) {
  auto* s = static_cast<TestStream*>(ctx);
  if (!s->Enter(Callback::Close, 0, 0, error)) return 0;
  --s->openDepth_;
  s->Succeed(error);
  return 0;
}

uint32_t QD_CALLBACK TestStream::Read(void* ctx, void* buffer, uint32_t* count, uint32_t* error) {
  auto* s = static_cast<TestStream*>(ctx);
  const uint32_t asked = *count;
  if (!s->Enter(Callback::Read, asked, 0, error)) {
    *count = 0;
    return 0;
  }
  const uint64_t size = s->data_.size();
  uint32_t n = s->position_ >= size ? 0 : static_cast<uint32_t>(std::min<uint64_t>(asked, size - s->position_));
  if (s->chunk_ != 0) n = std::min(n, s->chunk_);
  for (const Fault& f : s->readLimits_) {
    if (f.nth == s->CountOf(Callback::Read)) n = std::min(n, f.value);
  }
  if (n != 0) std::memcpy(buffer, s->data_.data() + s->position_, n);
  s->position_ += n;
  *count = s->ReportedCount(Callback::Read, n);
  s->Succeed(error);
  return 0;
}

uint32_t QD_CALLBACK TestStream::Write(void* ctx, const void* buffer, uint32_t* count, uint32_t* error) {
  auto* s = static_cast<TestStream*>(ctx);
  const uint32_t asked = *count;
  if (!s->Enter(Callback::Write, asked, 0, error)) {
    *count = 0;
    return 0;
  }
  uint32_t n = asked;
  if (s->chunk_ != 0) n = std::min(n, s->chunk_);
  const uint64_t end = uint64_t{s->position_} + n;
  if (s->fixedSize_ && end > s->data_.size()) {
    n = s->position_ >= s->data_.size() ? 0 : static_cast<uint32_t>(s->data_.size() - s->position_);
  } else if (end > s->data_.size()) {
    s->data_.resize(static_cast<size_t>(end));
  }
  if (n != 0) {
    std::memcpy(s->data_.data() + s->position_, buffer, n);
    s->writes_.push_back({s->position_, n});
  }
  s->position_ += n;
  *count = s->ReportedCount(Callback::Write, n);
  s->Succeed(error);
  return 0;
}

uint32_t QD_CALLBACK TestStream::Seek(void* ctx, uint32_t origin, int32_t offset, uint32_t* error) {
  auto* s = static_cast<TestStream*>(ctx);
  if (!s->Enter(Callback::Seek, origin, offset, error)) return 0;
  int64_t target = 0;
  switch (origin) {
    case QD_SEEK_START: target = static_cast<uint32_t>(offset); break;
    case QD_SEEK_CURRENT: target = int64_t{s->position_} + offset; break;
    case QD_SEEK_END: target = static_cast<int64_t>(s->data_.size()) + offset; break;
    default: *error = 0x7E570001u; return 0;
  }
  if (target < 0 || target > int64_t{UINT32_MAX}) {
    *error = 0x7E570002u;
    return 0;
  }
  s->position_ = static_cast<uint32_t>(target);
  s->Succeed(error);
  return 0;
}

uint32_t QD_CALLBACK TestStream::Tell(void* ctx, uint32_t* error) {
  auto* s = static_cast<TestStream*>(ctx);
  if (!s->Enter(Callback::Tell, 0, 0, error)) return 0xDEADBEEFu;
  s->Succeed(error);
  return s->position_;
}

uint32_t QD_CALLBACK TestStream::Aux(void* ctx, uint32_t value, uint32_t* error) {
  auto* s = static_cast<TestStream*>(ctx);
  if (!s->Enter(Callback::Aux, value, 0, error)) return 0;
  s->Succeed(error);
  return 0;
}

}  // namespace qdtest
