// Inputs of the Exif writers (property records in heap blocks of exactly their
// length, rich inputs), an owner for what they produce, and a small TIFF
// reader of our own, so that the output is not checked only by the library's
// own walker.
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
  Le& u16(uint16_t v) { return u8(uint8_t(v)).u8(uint8_t(v >> 8)); }
  Le& u32(uint32_t v) { return u16(uint16_t(v)).u16(uint16_t(v >> 16)); }
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

// A null-terminated record list; each record in a block of exactly its size,
// so that ASan reports a read of even one byte past it.
class Records {
 public:
  explicit Records(const RecordList& list = {}) {
    for (const auto& [code, payload] : list) Add(code, payload);
  }
  Records& Add(uint16_t code, const Bytes& payload) {
    const auto size = static_cast<uint32_t>(payload.size());
    blocks_.push_back(std::make_unique<uint8_t[]>(sizeof(PropertyRecord) + size));
    std::memcpy(blocks_.back().get(), &code, 2);
    std::memcpy(blocks_.back().get() + 2, &size, 4);
    std::copy(payload.begin(), payload.end(), blocks_.back().get() + 6);
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
    const uint8_t *s = info.segment, *t = info.tiff;
    return t == nullptr ? Bytes{} : Bytes(s, t + uint32_t{info.tiffSize});
  }
  Bytes tiff() const {
    const Bytes p = payload();
    return p.empty() ? p : Bytes(p.begin() + 6, p.end());
  }
};

template <typename Record>
bool AllZero(const Record& r) {
  const auto* p = reinterpret_cast<const uint8_t*>(&r);
  return std::all_of(p, p + sizeof r, [](uint8_t b) { return b == 0; });
}

inline ExifImageInfo Image(const std::string& model, uint16_t width, uint16_t height,
                           uint16_t dpi = 300) {
  ExifImageInfo image{};
  std::memcpy(image.model, model.data(), std::min(model.size(), sizeof image.model));
  image.valid = 1;
  image.width = width;
  image.height = height;
  image.xResolution = dpi;
  image.yResolution = dpi;
  return image;
}

inline ExifShotValues NoShotValues() { return {-1.0f, 100.0f, 100.0f, -1.0f, 0xFFFF, 0xFF}; }

using ExifExport = uint32_t(QD_API*)(const ExifImageInfo*, const ExifCaptureInfo*,
                                     const ExifShotValues*, PropertyRecord**, TiffBlockInfo*);

// Inputs that fill every tag of the IFD tables; with `wideGamut` also the
// chromaticity tags, Gamma and the "R03" index. Each pass-through maker-note
// tag carries its record's code as its first 16 bits.
struct RichInput {
  ExifImageInfo image = Image("Vedra Q10", 640, 480);
  ExifCaptureInfo capture{1700000000, 1000123, "Test Owner", "JPEG test image"};  // 2023-11-14
  ExifShotValues shot{5.0f, 8.0f, -0.5f, -1.0f, 0xFFFF, 0xFF};  // f/5.66, 1/256 s, -3/6 EV
  Records records;

  RichInput(const Bytes& thumbnail, bool wideGamut) {
    records = Records({
        {0x0B, Le().text(std::string("ASCII\0\0\0", 8)).u32(12).text("Test comment")},
        {0x08, Le().u32(350).u32(10).u32(3200).u32(1).u32(2400).u32(1).u16(2)},
        {0x04, Le().u32(350u << 16).u32(2400u << 16 | 3200)}, {0x07, Le().u32(90).u16(0)},
        {0x2D, Le().u32(1).u32(250)}, {0x2E, Le().u32(56).u32(10)}, {0x0C, Le().u16(200)},
        {0x32, Le().u16(16)}, {0x09, Le().u16(3)}, {0x10, Le().u16(7)}, {0x10A, {3, 0}},
        {0x03, Le().u32(1).u32(2).u32(3)}, {0x0E, Le().u32(0x11223344)},
        {0x90, Le().u32(0x00050006)}, {0x34, {0, 0}}, {0x35, {0, 0}}, {0x36, {1, 0}},
        {0x37, Le().u32(100).u32(100)}, {0x38, {0, 0}}});
    for (uint16_t code :
         {0x0D, 0x3A, 0x3B, 0x3C, 0x83, 0x84, 0x86, 0x87, 0x8D, 0x8E, 0x108, 0x111}) {
      records.Add(code, Le().u16(code).u16(1));
    }
    for (uint16_t code = 0x1B; code <= 0x2A; ++code) records.Add(code, Le().u16(code).u16(2));
    if (wideGamut) records.Add(0x85, Le().u16(2));
    records.Add(0x05, thumbnail);
  }
  uint32_t Call(ExifExport entry, TiffBlockInfo* out) {
    return entry(&image, &capture, &shot, records.list(), out);
  }
};

struct Entry {
  uint16_t tag, type;
  uint32_t count, field;    // as written
  uint32_t valueAt, bytes;  // where the value lies and its length
};
using Ifd = std::vector<Entry>;

// Reads IFDs out of TIFF bytes; anything outside the bytes fails the test.
class TiffReader {
 public:
  explicit TiffReader(Bytes tiff = {}) : t_(std::move(tiff)), big_(!t_.empty() && t_[0] == 'M') {}
  const Bytes& bytes() const { return t_; }

  // n bytes at `at` in the block's order.
  uint32_t Get(uint64_t at, uint32_t n) const {
    uint32_t v = 0;
    for (uint32_t i = 0; i < n && Has(at, n); ++i) {
      v |= uint32_t{t_[at + i]} << 8 * (big_ ? n - 1 - i : i);
    }
    return v;
  }
  uint32_t U32(uint64_t at) const { return Get(at, 4); }
  std::vector<Entry> Ifd(uint32_t at, uint32_t* next = nullptr) const {
    const uint32_t n = Get(at, 2);
    if (!Has(at, 2 + 12ull * n + 4)) return {};
    std::vector<Entry> out;
    for (uint32_t e = at + 2; e < at + 2 + 12 * n; e += 12) {
      const auto type = static_cast<uint16_t>(Get(e + 2, 2));
      const uint32_t size = type == 3                ? 2
                            : type == 4 || type == 9  ? 4
                            : type == 5 || type == 10 ? 8
                                                      : 1;
      const uint64_t bytes = uint64_t{U32(e + 4)} * size;
      const uint32_t valueAt = bytes > 4 ? U32(e + 8) : e + 8;
      if (!Has(valueAt, bytes)) return {};
      out.push_back({uint16_t(Get(e, 2)), type, U32(e + 4), U32(e + 8), valueAt, uint32_t(bytes)});
    }
    if (next != nullptr) *next = U32(at + 2 + 12 * n);
    return out;
  }
  Bytes Value(const Entry& e) const {
    return Bytes(t_.begin() + e.valueAt, t_.begin() + e.valueAt + e.bytes);
  }
  std::string Text(const Entry& e) const {
    const Bytes v = Value(e);
    return std::string(v.begin(), std::find(v.begin(), v.end(), uint8_t{0}));
  }
  // SHORT, LONG and RATIONAL elements in order (a rational is two).
  std::vector<uint32_t> Numbers(const Entry& e) const {
    std::vector<uint32_t> out;
    const uint32_t size = e.type == 3 ? 2 : 4;
    for (uint32_t i = 0; i + size <= e.bytes; i += size) {
      out.push_back(size == 2 ? Get(e.valueAt + i, 2) : U32(e.valueAt + i));
    }
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

}  // namespace qdtest
