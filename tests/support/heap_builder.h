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

// Numbers in a chosen byte order, for fixtures and for patching them.
void PutU16(Bytes& b, size_t at, uint16_t v, bool bigEndian);
void PutU32(Bytes& b, size_t at, uint32_t v, bool bigEndian);
uint16_t GetU16(const uint8_t* p, bool bigEndian);
uint32_t GetU32(const uint8_t* p, bool bigEndian);
// 16-bit or 32-bit values laid out in the given order.
Bytes U16s(std::initializer_list<uint16_t> values, bool bigEndian);
Bytes U32s(std::initializer_list<uint32_t> values, bool bigEndian);

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
  uint16_t Free(uint32_t length);
  // An all-zero table slot.
  uint16_t Unused();
  // Bytes between the end of the table and the table offset.
  HeapBuilder& Slack(uint32_t n);

  // Damage: change what is written, never where things are laid out.
  HeapBuilder& OverrideTableOffset(uint32_t t);
  HeapBuilder& OverrideCount(uint16_t n);
  HeapBuilder& OverrideLength(uint16_t index, uint32_t length);
  HeapBuilder& OverrideOffset(uint16_t index, uint32_t offset);

  bool bigEndian() const { return bigEndian_; }
  // T: the data area's length, which is also where the table starts.
  uint32_t DataLength() const { return dataLength_; }
  // Where a record's data lies in the heap (for in-record data: bytes 2-9
  // of the record inside the table).
  uint32_t DataOffset(uint16_t index) const;
  uint32_t Size() const;

  Bytes Build() const;

 private:
  struct Record {
    uint16_t type;
    uint32_t length;
    uint32_t offset;
    std::optional<std::array<uint8_t, 8>> inRecord;
    Bytes data;  // what goes into the data area
    std::optional<uint32_t> lengthOverride;
    std::optional<uint32_t> offsetOverride;
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
  explicit HeapFileBuilder(const HeapBuilder& root);

  HeapFileBuilder& Subtype(const std::string& four);
  HeapFileBuilder& Version(uint32_t v);
  // A header of 26 + n bytes (H grows with it).
  HeapFileBuilder& ExtraHeader(uint32_t n);

  // Damage.
  HeapFileBuilder& Mark(const std::string& two);   // instead of "II"/"MM"
  HeapFileBuilder& Magic(const std::string& four);  // instead of "HEAP"
  // The H field only; the root heap stays where it is.
  HeapFileBuilder& OverrideHeaderLength(uint32_t h);

  // Where the root heap starts.
  uint32_t HeaderLength() const { return 26 + extra_; }
  Bytes Build() const;

 private:
  bool bigEndian_;
  Bytes root_;
  std::string subtype_ = "CCDR";
  uint32_t version_ = 0x00010006;
  uint32_t extra_ = 0;
  std::string mark_;
  std::string magic_ = "HEAP";
  std::optional<uint32_t> headerLength_;
};

}  // namespace qdtest
