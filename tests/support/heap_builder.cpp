#include "support/heap_builder.h"

#include <cstring>
#include <stdexcept>

namespace qdtest {

void PutU16(Bytes& b, size_t at, uint16_t v, bool bigEndian) {
  b.at(at + (bigEndian ? 1 : 0)) = static_cast<uint8_t>(v);
  b.at(at + (bigEndian ? 0 : 1)) = static_cast<uint8_t>(v >> 8);
}

void PutU32(Bytes& b, size_t at, uint32_t v, bool bigEndian) {
  for (size_t i = 0; i < 4; ++i) {
    b.at(at + (bigEndian ? 3 - i : i)) = static_cast<uint8_t>(v >> (8 * i));
  }
}

uint16_t GetU16(const uint8_t* p, bool bigEndian) {
  return bigEndian ? static_cast<uint16_t>(p[0] << 8 | p[1]) : static_cast<uint16_t>(p[1] << 8 | p[0]);
}

uint32_t GetU32(const uint8_t* p, bool bigEndian) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= uint32_t{p[bigEndian ? 3 - i : i]} << (8 * i);
  return v;
}

Bytes U16s(std::initializer_list<uint16_t> values, bool bigEndian) {
  Bytes b(values.size() * 2);
  size_t at = 0;
  for (uint16_t v : values) PutU16(b, (at++) * 2, v, bigEndian);
  return b;
}

Bytes U32s(std::initializer_list<uint32_t> values, bool bigEndian) {
  Bytes b(values.size() * 4);
  size_t at = 0;
  for (uint32_t v : values) PutU32(b, (at++) * 4, v, bigEndian);
  return b;
}

uint16_t HeapBuilder::Add(Record r) {
  if (records_.size() >= 0xFFFF) throw std::length_error("heap table full");
  if (!r.inRecord) {
    r.offset = dataLength_;
    r.length = static_cast<uint32_t>(r.data.size());
    dataLength_ += r.length;
  }
  records_.push_back(std::move(r));
  return static_cast<uint16_t>(records_.size());
}

uint16_t HeapBuilder::Data(uint16_t type, Bytes bytes) {
  Record r{};
  r.type = type;
  r.data = std::move(bytes);
  return Add(std::move(r));
}

uint16_t HeapBuilder::InRecord(uint16_t type, std::array<uint8_t, 8> bytes) {
  Record r{};
  r.type = static_cast<uint16_t>(type | 0x4000);
  r.inRecord = bytes;
  return Add(std::move(r));
}

uint16_t HeapBuilder::Nested(uint16_t type, const HeapBuilder& inner) {
  if (inner.bigEndian_ != bigEndian_) throw std::invalid_argument("nested heap in another order");
  return Data(type, inner.Build());
}

uint16_t HeapBuilder::Free(uint32_t length) { return Data(0x0001, Bytes(length, 0xEE)); }

uint16_t HeapBuilder::Unused() {
  Record r{};
  r.inRecord = std::array<uint8_t, 8>{};  // nothing in the data area, all bytes 0
  return Add(std::move(r));
}

HeapBuilder& HeapBuilder::Slack(uint32_t n) {
  slack_ = n;
  return *this;
}

HeapBuilder& HeapBuilder::OverrideTableOffset(uint32_t t) {
  tableOffset_ = t;
  return *this;
}

HeapBuilder& HeapBuilder::OverrideCount(uint16_t n) {
  count_ = n;
  return *this;
}

HeapBuilder& HeapBuilder::OverrideLength(uint16_t index, uint32_t length) {
  records_.at(index - 1u).lengthOverride = length;
  return *this;
}

HeapBuilder& HeapBuilder::OverrideOffset(uint16_t index, uint32_t offset) {
  records_.at(index - 1u).offsetOverride = offset;
  return *this;
}

uint32_t HeapBuilder::DataOffset(uint16_t index) const {
  const Record& r = records_.at(index - 1u);
  return r.inRecord ? dataLength_ + 10u * index - 6u : r.offset;
}

uint32_t HeapBuilder::Size() const {
  return dataLength_ + 2 + 10 * static_cast<uint32_t>(records_.size()) + slack_ + 4;
}

Bytes HeapBuilder::Build() const {
  Bytes b(Size(), 0);
  const bool be = bigEndian_;
  for (const Record& r : records_) {
    if (!r.data.empty()) std::memcpy(b.data() + r.offset, r.data.data(), r.data.size());
  }
  const uint32_t t = dataLength_;
  PutU16(b, t, count_.value_or(static_cast<uint16_t>(records_.size())), be);
  for (size_t i = 0; i < records_.size(); ++i) {
    const Record& r = records_[i];
    const size_t at = t + 2 + 10 * i;
    PutU16(b, at, r.type, be);
    if (r.inRecord) {
      std::memcpy(b.data() + at + 2, r.inRecord->data(), 8);
    } else {
      PutU32(b, at + 2, r.length, be);
      PutU32(b, at + 6, r.offset, be);
    }
    if (r.lengthOverride) PutU32(b, at + 2, *r.lengthOverride, be);
    if (r.offsetOverride) PutU32(b, at + 6, *r.offsetOverride, be);
  }
  PutU32(b, b.size() - 4, tableOffset_.value_or(t), be);
  return b;
}

HeapFileBuilder::HeapFileBuilder(const HeapBuilder& root)
    : bigEndian_(root.bigEndian()), root_(root.Build()), mark_(root.bigEndian() ? "MM" : "II") {}

HeapFileBuilder& HeapFileBuilder::Subtype(const std::string& four) {
  subtype_ = four;
  return *this;
}

HeapFileBuilder& HeapFileBuilder::Version(uint32_t v) {
  version_ = v;
  return *this;
}

HeapFileBuilder& HeapFileBuilder::ExtraHeader(uint32_t n) {
  extra_ = n;
  return *this;
}

HeapFileBuilder& HeapFileBuilder::Mark(const std::string& two) {
  mark_ = two;
  return *this;
}

HeapFileBuilder& HeapFileBuilder::Magic(const std::string& four) {
  magic_ = four;
  return *this;
}

HeapFileBuilder& HeapFileBuilder::OverrideHeaderLength(uint32_t h) {
  headerLength_ = h;
  return *this;
}

Bytes HeapFileBuilder::Build() const {
  Bytes b(HeaderLength(), 0);
  std::memcpy(b.data(), mark_.data(), 2);                     // byte-order mark
  PutU32(b, 2, headerLength_.value_or(HeaderLength()), bigEndian_);  // H
  std::memcpy(b.data() + 6, magic_.data(), 4);                // "HEAP"
  std::memcpy(b.data() + 10, subtype_.data(), 4);             // subtype
  PutU32(b, 14, version_, bigEndian_);                        // version word
  for (size_t i = 18; i < 26; ++i) b[i] = static_cast<uint8_t>(0x30 + i);  // never examined
  // Bytes 26..H-1 (the extra header) stay zero.
  b.insert(b.end(), root_.begin(), root_.end());
  return b;
}

}  // namespace qdtest
