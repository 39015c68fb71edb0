#include "support/test_stream.h"

#include <algorithm>
#include <cstring>

namespace qdtest {

const char* CallbackName(Callback cb) {
  static const char* const kNames[] = {"open", "close", "read", "write", "seek", "tell", "aux"};
  return kNames[static_cast<int>(cb)];
}

MemoryStream::MemoryStream(std::vector<uint8_t> data, bool log)
    : data_(std::move(data)), log_(log) {
  record_ = {this, nullptr, Open, Close, Read, Write, Seek, Tell, Aux};
}

// Counts and logs the call and clears the error; false when a scripted failure
// answers it instead.
bool MemoryStream::Enter(Callback cb, uint32_t arg, int32_t offset, uint32_t* error) {
  ++callCount_;
  if (cb == Callback::Read) ++readCount_;
  if (log_) calls_.push_back({cb, position_, arg, offset});
  const bool nthCall = failNth_ != 0 && calls_.size() == static_cast<size_t>(failNth_);
  const int nth = CountOf(cb);
  const auto hit = std::find_if(faults_.begin(), faults_.end(),
                                [&](const Fault& f) { return f.callback == cb && f.nth == nth; });
  if (nthCall || hit != faults_.end()) {
    *error = nthCall ? failNthError_ : hit->value;
    faultFired_ = true;
    return false;
  }
  if (!leaveError_) *error = 0;
  return true;
}

uint32_t MemoryStream::Reported(Callback cb, uint32_t moved) const {
  for (const Fault& f : lies_) {
    if (f.callback == cb && f.nth == CountOf(cb)) return f.value;
  }
  return moved;
}

int MemoryStream::CountOf(Callback cb) const {
  return static_cast<int>(std::count_if(calls_.begin(), calls_.end(),
                                        [cb](const Call& c) { return c.callback == cb; }));
}

uint32_t QD_CALLBACK MemoryStream::Open(void* ctx, uint32_t mode, uint32_t* error) {
  auto* s = static_cast<MemoryStream*>(ctx);
  if (!s->Enter(Callback::Open, mode, 0, error)) return 0;
  if (s->clearOnWrite_ && mode == QD_OPEN_WRITE) s->data_.clear();
  ++s->openDepth_;
  s->lastOpenMode_ = mode;
  s->position_ = 0;
  return 0;
}

uint32_t QD_CALLBACK MemoryStream::Close(void* ctx, uint32_t* error) {
  auto* s = static_cast<MemoryStream*>(ctx);
  if (s->Enter(Callback::Close, 0, 0, error)) --s->openDepth_;
  return 0;
}

uint32_t QD_CALLBACK MemoryStream::Read(void* ctx, void* buffer, uint32_t* count,
                                        uint32_t* error) {
  auto* s = static_cast<MemoryStream*>(ctx);
  if (!s->Enter(Callback::Read, *count, 0, error)) return *count = 0;
  const uint8_t* bytes = s->view_ != nullptr ? s->view_ : s->data_.data();
  const uint64_t size = s->view_ != nullptr ? s->viewSize_ : s->data_.size();
  const uint64_t left = size - std::min<uint64_t>(size, s->position_);
  uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(*count, left));
  if (s->chunk_ != 0) n = std::min(n, s->chunk_);
  for (const Fault& f : s->readLimits_) {
    if (f.nth == s->CountOf(Callback::Read)) n = std::min(n, f.value);
  }
  if (n != 0) {
    std::memcpy(buffer, bytes + s->position_, n);
    s->ranges_.emplace_back(s->position_, n);
    s->bytesRead_ += n;
    s->highestRead_ = std::max(s->highestRead_, s->position_ + n);
  }
  s->position_ += n;
  *count = s->Reported(Callback::Read, n);
  return 0;
}

uint32_t QD_CALLBACK MemoryStream::Write(void* ctx, const void* buffer, uint32_t* count,
                                         uint32_t* error) {
  auto* s = static_cast<MemoryStream*>(ctx);
  if (!s->Enter(Callback::Write, *count, 0, error)) return *count = 0;
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

uint32_t QD_CALLBACK MemoryStream::Seek(void* ctx, uint32_t origin, int32_t offset,
                                        uint32_t* error) {
  auto* s = static_cast<MemoryStream*>(ctx);
  if (!s->Enter(Callback::Seek, origin, offset, error)) return 0;
  const uint64_t size = s->view_ != nullptr ? s->viewSize_ : s->data_.size();
  int64_t target = 0;
  switch (origin) {
    case QD_SEEK_START: target = static_cast<uint32_t>(offset); break;
    case QD_SEEK_CURRENT: target = int64_t{s->position_} + offset; break;
    case QD_SEEK_END: target = static_cast<int64_t>(size) + offset; break;
    default: *error = s->badOrigin_; return 0;
  }
  if (target < 0 || target > int64_t{UINT32_MAX}) {
    *error = s->badTarget_;
    return 0;
  }
  s->position_ = static_cast<uint32_t>(target);
  return 0;
}

uint32_t QD_CALLBACK MemoryStream::Tell(void* ctx, uint32_t* error) {
  auto* s = static_cast<MemoryStream*>(ctx);
  return s->Enter(Callback::Tell, 0, 0, error) ? s->position_ : 0xDEADBEEFu;
}

uint32_t QD_CALLBACK MemoryStream::Aux(void* ctx, uint32_t value, uint32_t* error) {
  static_cast<MemoryStream*>(ctx)->Enter(Callback::Aux, value, 0, error);
  return 0;
}

void TestStream::FailNthCall(int nth, uint32_t error) {
  failNth_ = nth;
  failNthError_ = error;
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
