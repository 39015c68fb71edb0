// Byte-order primitives and bounded field reads. File values may sit at any
// offset, so they are copied out, never dereferenced in place; big-endian data
// is read with the little-endian primitives and then swapped.
#pragma once

#include <cstdint>
#include <cstring>

namespace qd {

// The byte-order flag of every in-memory record: 0 = "II", 1 = "MM".
enum ByteOrder : uint8_t { kLittleEndian = 0, kBigEndian = 1 };

// The order this machine keeps its own integers in.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr ByteOrder kHostOrder = kBigEndian;
#else
constexpr ByteOrder kHostOrder = kLittleEndian;
#endif

constexpr uint16_t kMarkII = 0x4949;  // "II" read as a little-endian 16-bit value
constexpr uint16_t kMarkMM = 0x4D4D;  // "MM"

// On a little-endian machine a value is its bytes: one load or store.
inline uint16_t GetLE16(const uint8_t* p) {
  if constexpr (kHostOrder == kLittleEndian) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
  }
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t GetLE32(const uint8_t* p) {
  if constexpr (kHostOrder == kLittleEndian) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
  }
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
inline void PutLE16(uint16_t v, uint8_t* p) {
  if constexpr (kHostOrder == kLittleEndian) {
    std::memcpy(p, &v, 2);
    return;
  }
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutLE32(uint32_t v, uint8_t* p) {
  if constexpr (kHostOrder == kLittleEndian) {
    std::memcpy(p, &v, 4);
    return;
  }
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}
inline uint16_t Swap16(uint16_t v) { return static_cast<uint16_t>((v << 8) | (v >> 8)); }
inline uint32_t Swap32(uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

// A value of the given order at p, and its inverse.
inline uint16_t Get16(const uint8_t* p, ByteOrder o) {
  const uint16_t v = GetLE16(p);
  return o == kBigEndian ? Swap16(v) : v;
}
inline uint32_t Get32(const uint8_t* p, ByteOrder o) {
  const uint32_t v = GetLE32(p);
  return o == kBigEndian ? Swap32(v) : v;
}
inline void Put16(uint16_t v, uint8_t* p, ByteOrder o) { PutLE16(o == kBigEndian ? Swap16(v) : v, p); }
inline void Put32(uint32_t v, uint8_t* p, ByteOrder o) { PutLE32(o == kBigEndian ? Swap32(v) : v, p); }

// Copies n bytes; the sizes of most values (a word, a long, a rational) need
// no library call.
inline void CopyBytes(uint8_t* out, const void* from, uint32_t n) {
  if (n == 2) {
    std::memcpy(out, from, 2);
  } else if (n == 4) {
    std::memcpy(out, from, 4);
  } else if (n == 8) {
    std::memcpy(out, from, 8);
  } else if (n != 0) {
    std::memcpy(out, from, n);
  }
}

// The order named by a two-byte mark at p; false for anything but "II"/"MM".
inline bool OrderFromMark(const uint8_t* p, ByteOrder* order) {
  const uint16_t mark = GetLE16(p);
  if (mark == kMarkII) {
    *order = kLittleEndian;
    return true;
  }
  if (mark == kMarkMM) {
    *order = kBigEndian;
    return true;
  }
  return false;
}

// True when [offset, offset + length) lies inside [0, size); 32-bit file
// values cannot wrap here. Bytes held in memory are checked by a ByteView.
inline bool FitsIn(uint64_t offset, uint64_t length, uint64_t size) {
  return offset <= size && length <= size - offset;
}

// A read-only view of caller or file bytes. Every access is checked against the
// view's own size in 64-bit arithmetic, and a nested structure is taken as a
// child view, so nothing inside it can reach outside it.
class ByteView {
 public:
  constexpr ByteView() = default;
  constexpr ByteView(const uint8_t* data, uint32_t size) : data_(data), size_(size) {}

  const uint8_t* data() const { return data_; }
  uint32_t size() const { return size_; }

  // True when [offset, offset + length) lies inside the view.
  bool Contains(uint64_t offset, uint64_t length) const { return FitsIn(offset, length, size_); }
  // The child view [offset, offset + length), or false when it does not fit.
  bool Sub(uint64_t offset, uint64_t length, ByteView* out) const {
    if (!Contains(offset, length)) return false;
    *out = ByteView(data_ + offset, static_cast<uint32_t>(length));
    return true;
  }
  bool U8(uint64_t offset, uint8_t* out) const {
    if (!Contains(offset, 1)) return false;
    *out = data_[offset];
    return true;
  }
  bool U16(uint64_t offset, ByteOrder order, uint16_t* out) const {
    if (!Contains(offset, 2)) return false;
    *out = Get16(data_ + offset, order);
    return true;
  }
  bool U32(uint64_t offset, ByteOrder order, uint32_t* out) const {
    if (!Contains(offset, 4)) return false;
    *out = Get32(data_ + offset, order);
    return true;
  }

 private:
  const uint8_t* data_ = nullptr;
  uint32_t size_ = 0;
};

}  // namespace qd
