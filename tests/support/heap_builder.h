// Byte-level builders for heaps and heap files. They lay every byte out by
// hand, apart from the library's own heap code, so that a test reads the
// format twice: once here, once in the library. Each field can be damaged on
// purpose, so error cases are made by breaking one field of a valid fixture.
//
// Heap layout written: data area (records' data, in the order they were
// added), table {u16 count, 10-byte records}, slack, u32 table offset.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace qdtest {

using Bytes = std::vector<uint8_t>;

// Numbers in a chosen byte order, for fixtures and for patching them. The
// `n`-byte forms serve every builder; Put* write inside `b`, Append* grow it.
void PutUint(Bytes& b, size_t at, uint64_t v, unsigned n, bool bigEndian);
void AppendUint(Bytes& b, uint64_t v, unsigned n, bool bigEndian);
uint64_t GetUint(const uint8_t* p, unsigned n, bool bigEndian);
inline void PutU16(Bytes& b, size_t at, uint16_t v, bool be) { PutUint(b, at, v, 2, be); }
inline void PutU32(Bytes& b, size_t at, uint32_t v, bool be) { PutUint(b, at, v, 4, be); }
inline uint16_t GetU16(const uint8_t* p, bool be) { return uint16_t(GetUint(p, 2, be)); }
inline uint32_t GetU32(const uint8_t* p, bool be) { return uint32_t(GetUint(p, 4, be)); }
// 16-bit or 32-bit values laid out in the given order.
Bytes U16s(std::initializer_list<uint16_t> values, bool bigEndian);
Bytes U32s(std::initializer_list<uint32_t> values, bool bigEndian);

// Stores `value` in `field` and returns `self`: the body of a chained setter.
template <typename Self, typename Field, typename Value>
Self& Chain(Self& self, Field& field, const Value& value) {
  field = value;
  return self;
}

class HeapBuilder {
 public:
  explicit HeapBuilder(bool bigEndian = false) : bigEndian_(bigEndian) {}

  // Each adder appends one table record and returns its 1-based index.
  // Data in the data area; the type word is written as given.
  uint16_t Data(uint16_t type, Bytes bytes);
  // Data held in the record itself; the location bit 0x4000 is added.
  uint16_t InRecord(uint16_t type, std::array<uint8_t, 8> bytes);
  // A nested heap stored as data; `inner` must use this heap's byte order.
  uint16_t Nested(uint16_t type, const HeapBuilder& inner);
  // Free space (type 0x0001) of `length` filler bytes.
  uint16_t Free(uint32_t length) { return Data(0x0001, Bytes(length, 0xEE)); }
  // An all-zero table slot.
  uint16_t Unused();
  // Bytes between the end of the table and the table offset.
  HeapBuilder& Slack(uint32_t n) { return Chain(*this, slack_, n); }

  // Damage: change what is written, never where things are laid out.
  HeapBuilder& OverrideTableOffset(uint32_t t) { return Chain(*this, tableOffset_, t); }
  HeapBuilder& OverrideCount(uint16_t n) { return Chain(*this, count_, n); }
  HeapBuilder& OverrideLength(uint16_t index, uint32_t length) {
    return Chain(*this, records_.at(index - 1u).lengthOverride, length);
  }
  HeapBuilder& OverrideOffset(uint16_t index, uint32_t offset) {
    return Chain(*this, records_.at(index - 1u).offsetOverride, offset);
  }

  bool bigEndian() const { return bigEndian_; }
  // Where a record's data lies in the heap (for in-record data: bytes 2-9
  // of the record inside the table).
  uint32_t DataOffset(uint16_t index) const;
  uint32_t Size() const {
    return dataLength_ + 2 + 10 * static_cast<uint32_t>(records_.size()) + slack_ + 4;
  }

  Bytes Build() const;

 private:
  struct Record {
    uint16_t type;
    uint32_t offset;  // in the data area; the length is data's
    std::optional<std::array<uint8_t, 8>> inRecord;
    Bytes data;
    std::optional<uint32_t> lengthOverride, offsetOverride;
  };
  uint16_t Add(Record r);

  bool bigEndian_;
  std::vector<Record> records_;
  uint32_t dataLength_ = 0;
  uint32_t slack_ = 0;
  std::optional<uint32_t> tableOffset_;
  std::optional<uint16_t> count_;
};

class HeapFileBuilder {
 public:
  // A heap file around `root`, in the root's byte order: subtype "CCDR",
  // version 0x00010006, 26-byte header.
  explicit HeapFileBuilder(const HeapBuilder& root)
      : bigEndian_(root.bigEndian()), root_(root.Build()), mark_(bigEndian_ ? "MM" : "II") {}

  HeapFileBuilder& Subtype(const std::string& four) { return Chain(*this, subtype_, four); }
  HeapFileBuilder& Version(uint32_t v) { return Chain(*this, version_, v); }

  // Damage: another byte-order mark or magic, or the H field only (the root
  // heap stays where it is).
  HeapFileBuilder& Mark(const std::string& two) { return Chain(*this, mark_, two); }
  HeapFileBuilder& Magic(const std::string& four) { return Chain(*this, magic_, four); }
  HeapFileBuilder& OverrideHeaderLength(uint32_t h) { return Chain(*this, headerLength_, h); }

  // Where the root heap starts.
  uint32_t HeaderLength() const { return 26; }
  Bytes Build() const;

 private:
  bool bigEndian_;
  Bytes root_;
  std::string mark_;
  std::string subtype_ = "CCDR";
  uint32_t version_ = 0x00010006;
  std::string magic_ = "HEAP";
  std::optional<uint32_t> headerLength_;
};

}  // namespace qdtest
