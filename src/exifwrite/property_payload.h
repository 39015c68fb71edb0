// A property record's payload, read only within its size: the Exif writer and
// heap creation both take their values this way.
#pragma once

#include <cstdint>
#include <cstring>

#include "frame/byte_order.h"
#include "qdparse.h"

namespace qd {

class Payload {
 public:
  explicit Payload(const PropertyRecord* r)
      : data_(reinterpret_cast<const uint8_t*>(r) + sizeof(PropertyRecord)), size_(r->size) {}
  const uint8_t* data() const { return data_; }
  uint32_t size() const { return size_; }
  bool Has(uint64_t bytes) const { return size_ >= bytes; }
  uint16_t U16(uint32_t i) const { return GetLE16(data_ + 2 * i); }
  uint32_t U32At(uint32_t at) const { return GetLE32(data_ + at); }
  float F32At(uint32_t at) const {
    const uint32_t bits = U32At(at);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
  }

 private:
  const uint8_t* data_;
  uint32_t size_;
};

}  // namespace qd
