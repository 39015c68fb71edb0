// The output stream of an IIM export: opened for writing by the work when it
// is ready to write, and closed after the source, whose close error comes
// first.
#pragma once

#include <cstdint>

#include "frame/stream_port.h"
#include "qdparse.h"

namespace qd::iim {

class Destination {
 public:
  explicit Destination(const qdlStream* stream) : stream_(stream) {}
  Destination(const Destination&) = delete;
  Destination& operator=(const Destination&) = delete;

  bool Usable() const {
    return stream_ != nullptr && stream_->open != nullptr && stream_->write != nullptr &&
           stream_->close != nullptr;
  }
  const qdlStream* stream() const { return stream_; }
  uint32_t Open() {
    uint32_t error = 0;
    StreamOpen(stream_, QD_OPEN_WRITE, &error);
    open_ = error == 0;
    return error;
  }
  // The call's result once the stream is closed: `result`, else the close's error.
  uint32_t Close(uint32_t result) {
    if (!open_) return result;
    open_ = false;
    uint32_t error = 0;
    StreamClose(stream_, &error);
    return result != QD_OK ? result : error;
  }

 private:
  const qdlStream* stream_;
  bool open_ = false;
};

}  // namespace qd::iim
