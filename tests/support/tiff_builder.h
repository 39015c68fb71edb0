// Byte-level builder for TIFF structures in either byte order, written by hand
// so that fixtures do not depend on the library's own writers.
//
//   TiffBuilder tb(Order::MM);
//   TiffIfd& ifd0 = tb.NewIfd();
//   TiffIfd& exif = tb.NewIfd();
//   ifd0.Ascii(0x010F, "Maker").Sub(0x8769, exif);
//   exif.Short(0x8827, {100});
//   TiffImage img = tb.Build();
//
// Layout: the 8-byte header, then every IFD in the order it was created, each
// followed by its out-of-line values (each item starts on an even offset).
// Nothing follows the last value unless Pad() asks for it, so a fixture can end
// exactly where its last value does.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/heap_builder.h"

namespace qdtest {

enum class Order : uint8_t { II, MM };

// TIFF field types, including those the library does not read.
enum TiffType : uint16_t {
  kTByte = 1, kTAscii, kTShort, kTLong, kTRational, kTSByte, kTUndefined, kTSShort, kTSLong,
  kTSRational, kTFloat, kTDouble
};

constexpr uint16_t kTagExifIfd = 0x8769;
constexpr uint16_t kTagInteropIfd = 0xA005;
constexpr uint16_t kTagMakerNote = 0x927C;

class TiffIfd {
 public:
  // Typed entries; the count field is the number of values (rationals: pairs).
  TiffIfd& Byte(uint16_t tag, const Bytes& v) { return Typed(tag, kTByte, v); }
  TiffIfd& Undefined(uint16_t tag, const Bytes& v) { return Typed(tag, kTUndefined, v); }
  TiffIfd& Ascii(uint16_t tag, const std::string& text) {  // NUL appended
    return Values(tag, kTAscii, 1, {text.c_str(), text.c_str() + text.size() + 1});
  }
  TiffIfd& Short(uint16_t tag, const std::vector<uint16_t>& v) { return Typed(tag, kTShort, v); }
  TiffIfd& Long(uint16_t tag, const std::vector<uint32_t>& v) { return Typed(tag, kTLong, v); }
  TiffIfd& Rational(uint16_t tag, const std::vector<std::pair<uint32_t, uint32_t>>& v);
  // Any type: `count` values of `element` bytes each (DOUBLE: 8), written in
  // the block's byte order.
  TiffIfd& Values(uint16_t tag, uint16_t type, uint32_t element, const std::vector<uint64_t>& v) {
    return Add({tag, type, static_cast<uint32_t>(v.size()), element, v});
  }
  // An entry whose count and value-or-offset fields are exactly these.
  TiffIfd& Raw(uint16_t tag, uint16_t type, uint32_t count, uint32_t field) {
    return Add({tag, type, count, 1, {}, field});
  }
  // A LONG whose value is the offset of `ifd` (Exif IFD, interoperability IFD).
  TiffIfd& Sub(uint16_t tag, const TiffIfd& ifd) {
    return Add({tag, kTLong, 1, 4, {}, {}, ifd.index()});
  }

  // Breakers for the entry added last.
  TiffIfd& CountField(uint32_t raw) { return Chain(*this, entries_.back().count, raw); }

  // The next-IFD link to `ifd` (may be this one).
  TiffIfd& Next(const TiffIfd& ifd) { return Chain(*this, next_, ifd.index()); }

  int index() const { return index_; }
  size_t size() const { return entries_.size(); }  // entries added so far

 private:
  friend class TiffBuilder;
  struct Entry {
    uint16_t tag, type;
    uint32_t count;                  // count field as written
    uint32_t element;                // bytes per stored element
    std::vector<uint64_t> elements;  // the value, one number per element
    std::optional<uint32_t> field;   // forced value-or-offset field
    int subIfd = -1;                 // value field = offset of this IFD
  };

  explicit TiffIfd(int index) : index_(index) {}
  TiffIfd& Add(Entry e) {
    entries_.push_back(std::move(e));
    return *this;
  }
  template <typename T>
  TiffIfd& Typed(uint16_t tag, uint16_t type, const std::vector<T>& v) {
    return Values(tag, type, sizeof(T), {v.begin(), v.end()});
  }

  int index_;
  std::vector<Entry> entries_;
  int next_ = -1;
};

// The built bytes and where things landed.
struct TiffImage {
  std::vector<uint8_t> bytes;
  std::vector<uint32_t> ifdOffsets;                         // by IFD index
  std::map<std::pair<int, uint16_t>, uint32_t> valueOffsets;  // (IFD, tag) of out-of-line values

  uint32_t size() const { return static_cast<uint32_t>(bytes.size()); }
  uint32_t ValueOffset(const TiffIfd& ifd, uint16_t tag) const {
    return valueOffsets.at({ifd.index(), tag});
  }
};

class TiffBuilder {
 public:
  explicit TiffBuilder(Order order) : order_(order) {}
  TiffBuilder(const TiffBuilder&) = delete;
  TiffBuilder& operator=(const TiffBuilder&) = delete;

  // The first IFD created is IFD0; references stay valid as more are added.
  TiffIfd& NewIfd();

  // The IFD0 offset as written (by default where IFD0 lands) and spare zero
  // bytes after everything.
  TiffBuilder& FirstIfd(uint32_t offset) { return Chain(*this, firstIfd_, offset); }
  TiffBuilder& Pad(uint32_t bytes) { return Chain(*this, pad_, bytes); }

  TiffImage Build() const;

  // This builder's IFDs as a maker note: laid out from the maker note's first
  // byte (no header), every offset in them written as if the maker note began
  // at offset `writtenAt` of its TIFF block, then the 8-byte relocation footer
  // ("II"/"MM", 0x2A 0x00, `writtenAt` as u32 little-endian). Use it as the
  // UNDEFINED value of kTagMakerNote.
  std::vector<uint8_t> MakerNote(uint32_t writtenAt, bool footer = true) const;

 private:
  void LayOut(std::vector<uint8_t>* bytes, uint32_t origin, TiffImage* image) const;

  Order order_;
  std::deque<TiffIfd> ifds_;
  std::optional<uint32_t> firstIfd_;
  uint32_t pad_ = 0;
};

// "Exif\0\0" (or another 4-letter signature) followed by the TIFF bytes: an
// APP1 payload.
std::vector<uint8_t> App1Payload(const std::vector<uint8_t>& tiff, const char* signature = "Exif");

}  // namespace qdtest
