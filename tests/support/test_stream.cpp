#include "support/test_stream.h"

#include <algorithm>
#include <cstring>

namespace qdtest {

const char* CallbackName(Callback cb) {
  static const char* const kNames[] = {"open", "close", "read", "write", "seek", "tell", "aux"};
  return kNames[static_cast<int>(cb)];
}

TestStream::TestStream(std::vector<uint8_t> data) : data_(std::move(data)) {
  record_ = {this, nullptr, Open, Close, Read, Write, Seek, Tell, Aux};
}

// Logs the call and clears the error; false when a scripted failure answers
// it instead.
bool TestStream::Enter(Callback cb, uint32_t arg, uint32_t* error) {
  calls_.push_back({cb, arg});
  const bool nthCall = failNth_ != 0 && calls_.size() == static_cast<size_t>(failNth_);
  const Step* step = Find(kFail, cb);
  if (nthCall || step != nullptr) {
    *error = nthCall ? failNthError_ : step->value;
    faultFired_ = true;
    return false;
  }
  if (!leaveError_) *error = 0;
  return true;
}

const TestStream::Step* TestStream::Find(Script script, Callback cb) const {
  const int nth = CountOf(cb);
  for (const Step& s : steps_) {
    if (s.script == script && s.callback == cb && s.nth == nth) return &s;
  }
  return nullptr;
}

uint32_t TestStream::Reported(Callback cb, uint32_t moved) const {
  const Step* step = Find(kReport, cb);
  return step != nullptr ? step->value : moved;
}

int TestStream::CountOf(Callback cb) const {
  return static_cast<int>(std::count_if(calls_.begin(), calls_.end(),
                                        [cb](const Call& c) { return c.callback == cb; }));
}

uint32_t QD_CALLBACK TestStream::Open(void* ctx, uint32_t mode, uint32_t* error) {
  auto* s = static_cast<TestStream*>(ctx);
  if (!s->Enter(Callback::Open, mode, error)) return 0;
  if (s->clearOnWrite_ && mode == QD_OPEN_WRITE) s->data_.clear();
  ++s->openDepth_;
  s->lastOpenMode_ = mode;
  s->position_ = 0;
  return 0;
}

uint32_t QD_CALLBACK TestStream::Close(void* ctx, uint32_t* error) {
  auto* s = static_cast<TestStream*>(ctx);
  if (s->Enter(Callback::Close, 0, error)) --s->openDepth_;
  return 0;
}

uint32_t QD_CALLBACK TestStream::Read(void* ctx, void* buffer, uint32_t* count,
                                        uint32_t* error) {
  auto* s = static_cast<TestStream*>(ctx);
  if (!s->Enter(Callback::Read, *count, error)) return *count = 0;
  const size_t left = s->data_.size() - std::min<size_t>(s->data_.size(), s->position_);
  uint32_t n = static_cast<uint32_t>(std::min<size_t>(*count, left));
  if (s->chunk_ != 0) n = std::min(n, s->chunk_);
  if (const Step* limit = s->Find(kLimit, Callback::Read)) n = std::min(n, limit->value);
  if (n != 0) {
    std::memcpy(buffer, s->data_.data() + s->position_, n);
    s->reads_.emplace_back(s->position_, n);
  }
  s->position_ += n;
  *count = s->Reported(Callback::Read, n);
  return 0;
}

uint32_t QD_CALLBACK TestStream::Write(void* ctx, const void* buffer, uint32_t* count,
                                         uint32_t* error) {
  auto* s = static_cast<TestStream*>(ctx);
  if (!s->Enter(Callback::Write, *count, error)) return *count = 0;
  const uint32_t n = s->chunk_ != 0 ? std::min(*count, s->chunk_) : *count;
  const uint64_t end = uint64_t{s->position_} + n;
  if (end > s->data_.size()) s->data_.resize(static_cast<size_t>(end));
  if (n != 0) {
    std::memcpy(s->data_.data() + s->position_, buffer, n);
    s->writes_.push_back({s->position_, n});
  }
  s->position_ += n;
  *count = s->Reported(Callback::Write, n);
  return 0;
}

uint32_t QD_CALLBACK TestStream::Seek(void* ctx, uint32_t origin, int32_t offset,
                                        uint32_t* error) {
  auto* s = static_cast<TestStream*>(ctx);
  if (!s->Enter(Callback::Seek, origin, error)) return 0;
  int64_t target = -1;  // an unknown origin fails like a seek before the start
  switch (origin) {
    case QD_SEEK_START: target = static_cast<uint32_t>(offset); break;
    case QD_SEEK_CURRENT: target = int64_t{s->position_} + offset; break;
    case QD_SEEK_END: target = static_cast<int64_t>(s->data_.size()) + offset; break;
    default: break;
  }
  if (target < 0 || target > int64_t{UINT32_MAX}) {
    *error = 0x7E570001u;
  } else {
    s->position_ = static_cast<uint32_t>(target);
  }
  return 0;
}

uint32_t QD_CALLBACK TestStream::Tell(void* ctx, uint32_t* error) {
  auto* s = static_cast<TestStream*>(ctx);
  return s->Enter(Callback::Tell, 0, error) ? s->position_ : 0xDEADBEEFu;
}

uint32_t QD_CALLBACK TestStream::Aux(void* ctx, uint32_t value, uint32_t* error) {
  static_cast<TestStream*>(ctx)->Enter(Callback::Aux, value, error);
  return 0;
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

}  // namespace qdtest
