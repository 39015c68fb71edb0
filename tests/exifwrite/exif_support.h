// Shared by the Exif writer tests: property records in heap blocks of exactly
// their length, an owner for produced blocks, rich inputs, and a small TIFF
// reader of our own so that what the writer produced is not checked only by
// the library's own walker.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "qdparse.h"

namespace qdtest {

using Bytes = std::vector<uint8_t>;

// Little-endian payload bytes, as property records carry them.
class Le {
 public:
  Le& u8(uint8_t v) { return b_.push_back(v), *this; }
  Le& u16(uint16_t v) { return u8(static_cast<uint8_t>(v)).u8(static_cast<uint8_t>(v >> 8)); }
  Le& u32(uint32_t v) { return u16(static_cast<uint16_t>(v)).u16(static_cast<uint16_t>(v >> 16)); }
  Le& f32(float f) {
    uint32_t v;
    std::memcpy(&v, &f, 4);
    return u32(v);
  }
  Le& text(const std::string& s) { return b_.insert(b_.end(), s.begin(), s.end()), *this; }
  operator Bytes() const { return b_; }  // NOLINT: a builder

 private:
  Bytes b_;
};

using RecordList = std::vector<std::pair<uint16_t, Bytes>>;

// A null-terminated record list. Each record lives in a heap block of exactly
// 6 + payload bytes, so ASan reports a read of even one byte past it.
class Records {
 public:
  explicit Records(const RecordList& list = {}) {
    for (const auto& [code, payload] : list) Add(code, payload);
  }
  Records& Add(uint16_t code, const Bytes& payload) {
    const auto size = static_cast<uint32_t>(payload.size());
    auto block = std::make_unique<uint8_t[]>(sizeof(PropertyRecord) + payload.size());
    std::memcpy(block.get(), &code, 2);
    std::memcpy(block.get() + 2, &size, 4);
    if (size != 0) std::memcpy(block.get() + 6, payload.data(), size);
    blocks_.push_back(std::move(block));
    return *this;
  }
  PropertyRecord** list() {
    pointers_.clear();
    for (auto& b : blocks_) pointers_.push_back(reinterpret_cast<PropertyRecord*>(b.get()));
    pointers_.push_back(nullptr);
    return pointers_.data();
  }

 private:
  std::vector<std::unique_ptr<uint8_t[]>> blocks_;
  std::vector<PropertyRecord*> pointers_;
};

// A produced Exif block, released on scope exit.
struct ExifBlock {
  TiffBlockInfo info{};
  ExifBlock() = default;
  ExifBlock(const ExifBlock&) = delete;
  ExifBlock& operator=(const ExifBlock&) = delete;
  ~ExifBlock() { (void)qdParseFreeExifBuffer(&info); }
  // Signature and TIFF bytes: the APP1 payload.
  Bytes payload() const {
    const uint8_t* s = info.segment;
    const uint8_t* t = info.tiff;
    return t == nullptr ? Bytes{} : Bytes(s, t + uint32_t{info.tiffSize});
  }
  Bytes tiff() const {
    const Bytes p = payload();
    return p.size() < 6 ? Bytes{} : Bytes(p.begin() + 6, p.end());
  }
};

template <typename Record>
bool AllZero(const Record& r) {
  const auto* p = reinterpret_cast<const uint8_t*>(&r);
  return std::all_of(p, p + sizeof r, [](uint8_t b) { return b == 0; });
}

inline ExifImageInfo Image(const std::string& model, uint16_t width, uint16_t height, uint16_t dpi = 300) {
  ExifImageInfo image{};
  std::memcpy(image.model, model.data(), std::min(model.size(), sizeof image.model));
  image.valid = 1;
  image.width = width;
  image.height = height;
  image.xResolution = dpi;
  image.yResolution = dpi;
  return image;
}

inline ExifShotValues NoShotValues() { return ExifShotValues{-1.0f, 100.0f, 100.0f, -1.0f, 0xFFFF, 0xFF}; }

using ExifExport = uint32_t(QD_API*)(const ExifImageInfo*, const ExifCaptureInfo*, const ExifShotValues*,
                                     PropertyRecord**, TiffBlockInfo*);

// Inputs that fill every tag of the IFD tables; with `wideGamut` also the
// chromaticity tags, Gamma and the "R03" index. Each pass-through maker-note
// tag carries its record's code as its first 16 bits.
struct RichInput {
  ExifImageInfo image = Image("Vedra Q10", 640, 480);
  ExifCaptureInfo capture{1700000000, 1000123, "Test Owner", "JPEG test image"};  // 2023:11:14 22:13:20 UTC
  ExifShotValues shot{5.0f, 8.0f, -0.5f, -1.0f, 0xFFFF, 0xFF};  // f/5.66, 1/256 s, -3/6 EV
  Records records;

  RichInput(const Bytes& thumbnail, bool wideGamut) {
    records.Add(0x0B, Le().text(std::string("ASCII\0\0\0", 8)).u32(12).text("Test comment"))
        .Add(0x07, Le().u32(90).u16(0))
        .Add(0x2D, Le().u32(1).u32(250))
        .Add(0x2E, Le().u32(56).u32(10))
        .Add(0x0C, Le().u16(200))
        .Add(0x32, Le().u16(16))
        .Add(0x08, Le().u32(350).u32(10).u32(3200).u32(1).u32(2400).u32(1).u16(2))
        .Add(0x04, Le().u32(350u << 16).u32(2400u << 16 | 3200))
        .Add(0x09, Le().u16(3))
        .Add(0x10, Le().u16(7))
        .Add(0x03, Le().u32(1).u32(2).u32(3))
        .Add(0x0E, Le().u32(0x11223344))
        .Add(0x90, Le().u32(0x00050006))
        .Add(0x10A, Le().u8(3).u8(0))
        .Add(0x34, Le().u16(0)).Add(0x35, Le().u16(0)).Add(0x36, Le().u16(1))
        .Add(0x37, Le().u32(100).u32(100)).Add(0x38, Le().u16(0));
    for (uint16_t code : {0x0D, 0x3A, 0x3B, 0x3C, 0x83, 0x84, 0x86, 0x87, 0x8D, 0x8E, 0x108, 0x111}) {
      records.Add(code, Le().u16(code).u16(1));
    }
    for (uint16_t code = 0x1B; code <= 0x2A; ++code) records.Add(code, Le().u16(code).u16(2));
    if (wideGamut) records.Add(0x85, Le().u16(2));
    records.Add(0x05, thumbnail);
  }
  uint32_t Call(ExifExport entry, TiffBlockInfo* out) { return entry(&image, &capture, &shot, records.list(), out); }
};

struct Entry {
  uint16_t tag, type;
  uint32_t count, field;  // as written
  uint32_t valueAt, bytes;  // where the value lies and its length
};

// Reads IFDs out of TIFF bytes; anything outside the bytes fails the test.
class TiffReader {
 public:
  explicit TiffReader(Bytes tiff = {}) : t_(std::move(tiff)), big_(!t_.empty() && t_[0] == 'M') {}
  bool big() const { return big_; }
  const Bytes& bytes() const { return t_; }

  uint32_t U16(uint64_t at) const {
    if (!Has(at, 2)) return 0;
    return big_ ? (t_[at] << 8 | t_[at + 1]) : (t_[at + 1] << 8 | t_[at]);
  }
  uint32_t U32(uint64_t at) const { return big_ ? (U16(at) << 16 | U16(at + 2)) : (U16(at + 2) << 16 | U16(at)); }

  std::vector<Entry> Ifd(uint32_t at, uint32_t* next = nullptr) const {
    const uint32_t n = U16(at);
    if (!Has(at, 2 + 12ull * n + 4)) return {};
    std::vector<Entry> out;
    for (uint32_t e = at + 2; e < at + 2 + 12 * n; e += 12) {
      const auto type = static_cast<uint16_t>(U16(e + 2));
      const uint32_t element = type == 3 ? 2 : type == 4 || type == 9 ? 4 : type == 5 || type == 10 ? 8 : 1;
      const uint64_t bytes = uint64_t{U32(e + 4)} * element;
      const uint32_t valueAt = bytes > 4 ? U32(e + 8) : e + 8;
      if (!Has(valueAt, bytes)) return {};
      out.push_back({static_cast<uint16_t>(U16(e)), type, U32(e + 4), U32(e + 8), valueAt, static_cast<uint32_t>(bytes)});
    }
    if (next != nullptr) *next = U32(at + 2 + 12 * n);
    return out;
  }
  Bytes Value(const Entry& e) const { return Bytes(t_.begin() + e.valueAt, t_.begin() + e.valueAt + e.bytes); }
  std::string Text(const Entry& e) const {
    const Bytes v = Value(e);
    return std::string(v.begin(), std::find(v.begin(), v.end(), uint8_t{0}));
  }
  // SHORT, LONG and RATIONAL elements in order (a rational is two).
  std::vector<uint32_t> Numbers(const Entry& e) const {
    std::vector<uint32_t> out;
    const uint32_t size = e.type == 3 ? 2 : 4;
    for (uint32_t i = 0; i + size <= e.bytes; i += size) out.push_back(size == 2 ? U16(e.valueAt + i) : U32(e.valueAt + i));
    return out;
  }

 private:
  bool Has(uint64_t at, uint64_t n) const {
    const bool ok = at <= t_.size() && n <= t_.size() - at;
    EXPECT_TRUE(ok) << n << " bytes at " << at << " run past the " << t_.size() << "-byte block";
    return ok;
  }

  Bytes t_;
  bool big_;
};

using Ifd = std::vector<Entry>;

inline const Entry* Find(const Ifd& ifd, uint16_t tag) {
  for (const Entry& e : ifd) {
    if (e.tag == tag) return &e;
  }
  return nullptr;
}

inline std::vector<uint16_t> TagsOf(const Ifd& ifd) {
  std::vector<uint16_t> tags;
  for (const Entry& e : ifd) tags.push_back(e.tag);
  return tags;
}

// The IFDs of a property buffer, found through their pointer tags.
struct ExifTree {
  Ifd ifd0, exif, maker, interop, ifd1;
  uint32_t makerAt = 0, makerSize = 0, ifd1At = 0;

  explicit ExifTree(const TiffReader& r = TiffReader()) {
    if (r.bytes().empty()) return;
    ifd0 = r.Ifd(r.U32(4), &ifd1At);
    if (const Entry* e = Find(ifd0, 0x8769)) exif = r.Ifd(e->field);
    if (const Entry* e = Find(exif, 0x927C)) maker = r.Ifd(makerAt = e->field), makerSize = e->count;
    if (const Entry* e = Find(exif, 0xA005)) interop = r.Ifd(e->field);
    if (ifd1At != 0) ifd1 = r.Ifd(ifd1At);
  }
};

}  // namespace qdtest
