#include "support/heap_builder.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace qdtest {

void PutUint(Bytes& b, size_t at, uint64_t v, unsigned n, bool bigEndian) {
  for (unsigned i = 0; i < n; ++i) {
    b.at(at + (bigEndian ? n - 1 - i : i)) = static_cast<uint8_t>(v >> (8 * i));
  }
}

void AppendUint(Bytes& b, uint64_t v, unsigned n, bool bigEndian) {
  b.resize(b.size() + n);
  PutUint(b, b.size() - n, v, n, bigEndian);
}

uint64_t GetUint(const uint8_t* p, unsigned n, bool bigEndian) {
  uint64_t v = 0;
  for (unsigned i = 0; i < n; ++i) v |= uint64_t{p[bigEndian ? n - 1 - i : i]} << (8 * i);
  return v;
}

template <typename T>
Bytes Words(std::initializer_list<T> values, bool bigEndian) {
  Bytes b;
  for (T v : values) AppendUint(b, v, sizeof(T), bigEndian);
  return b;
}

Bytes U16s(std::initializer_list<uint16_t> values, bool be) { return Words(values, be); }
Bytes U32s(std::initializer_list<uint32_t> values, bool be) { return Words(values, be); }

uint16_t HeapBuilder::Add(Record r) {
  r.offset = dataLength_;
  dataLength_ += static_cast<uint32_t>(r.data.size());
  records_.push_back(std::move(r));
  return static_cast<uint16_t>(records_.size());
}

uint16_t HeapBuilder::Data(uint16_t type, Bytes bytes) {
  return Add({type, 0, {}, std::move(bytes)});
}

uint16_t HeapBuilder::InRecord(uint16_t type, std::array<uint8_t, 8> bytes) {
  return Add({static_cast<uint16_t>(type | 0x4000), 0, bytes});
}

uint16_t HeapBuilder::Nested(uint16_t type, const HeapBuilder& inner) {
  if (inner.bigEndian_ != bigEndian_) throw std::invalid_argument("nested heap in another order");
  return Data(type, inner.Build());
}

uint16_t HeapBuilder::Unused() { return Add({0, 0, std::array<uint8_t, 8>{}}); }

uint32_t HeapBuilder::DataOffset(uint16_t index) const {
  const Record& r = records_.at(index - 1u);
  return r.inRecord ? dataLength_ + 10u * index - 6u : r.offset;
}

Bytes HeapBuilder::Build() const {
  Bytes b(Size(), 0);
  const bool be = bigEndian_;
  const uint32_t t = dataLength_;
  PutU16(b, t, count_.value_or(static_cast<uint16_t>(records_.size())), be);
  for (size_t i = 0; i < records_.size(); ++i) {
    const Record& r = records_[i];
    std::copy(r.data.begin(), r.data.end(), b.begin() + r.offset);
    const size_t at = t + 2 + 10 * i;
    PutU16(b, at, r.type, be);
    if (r.inRecord) {
      std::memcpy(b.data() + at + 2, r.inRecord->data(), 8);
    } else {
      PutU32(b, at + 2, static_cast<uint32_t>(r.data.size()), be);
      PutU32(b, at + 6, r.offset, be);
    }
    if (r.lengthOverride) PutU32(b, at + 2, *r.lengthOverride, be);
    if (r.offsetOverride) PutU32(b, at + 6, *r.offsetOverride, be);
  }
  PutU32(b, b.size() - 4, tableOffset_.value_or(t), be);
  return b;
}

Bytes HeapFileBuilder::Build() const {
  Bytes b(HeaderLength(), 0);
  std::memcpy(b.data(), mark_.data(), 2);
  PutU32(b, 2, headerLength_.value_or(HeaderLength()), bigEndian_);
  std::memcpy(b.data() + 6, magic_.data(), 4);
  std::memcpy(b.data() + 10, subtype_.data(), 4);
  PutU32(b, 14, version_, bigEndian_);
  for (size_t i = 18; i < 26; ++i) b[i] = static_cast<uint8_t>(0x30 + i);  // never examined
  b.insert(b.end(), root_.begin(), root_.end());  // after the extra header's zeros
  return b;
}

}  // namespace qdtest
