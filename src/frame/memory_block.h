// Library memory blocks: every buffer the library allocates, for itself or for
// the caller, carries a hidden prefix {marker 1, length, self-pointer} directly
// in front of the address handed out, so blocks handed back can be checked.
// Blocks are only byte-aligned: read and write their contents byte-wise.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame/status.h"

namespace qd {

// 2-byte marker, 4-byte length, pointer-sized self-pointer: 10 bytes on 32-bit
// targets, 14 on 64-bit ones.
constexpr size_t kBlockPrefix = 2 + 4 + sizeof(void*);

// n bytes of uninitialised storage, or nullptr when the allocation fails.
uint8_t* BlockAlloc(uint32_t n);
// The same, zero-filled.
uint8_t* BlockAllocZeroed(uint32_t n);
// 0 for null or a released block; ST_STREAM_FAILED (0x40) for a pointer whose
// self-pointer does not match, which is then left alone. A matching block
// whose marker is not 1 is left alone too, and 0 returned. Reads the prefix
// bytes in front of p, so p must have kBlockPrefix readable bytes before it.
Status BlockFree(void* p);
// The length of a library block, 0 for anything else (and for null).
uint32_t BlockLength(const void* p);

// Room for values that would otherwise get a block each: they are placed one
// after another (at 8-byte steps, so each starts aligned) while they fit.
// Values taken with Take that the room does not hold are their taker's to
// free; those placed with Place are the room's.
class ValueRoom {
 public:
  ValueRoom(uint8_t* bytes, uint32_t size) : begin_(bytes), next_(bytes), end_(bytes + size) {}
  ValueRoom(const ValueRoom&) = delete;
  ValueRoom& operator=(const ValueRoom&) = delete;
  ~ValueRoom();

  // n bytes of the room, or nullptr when they no longer fit.
  uint8_t* Take(uint32_t n) {
    const auto left = static_cast<size_t>(end_ - next_);
    if (n > left) return nullptr;
    uint8_t* p = next_;
    const size_t step = (size_t{n} + 7) & ~size_t{7};
    next_ += step < left ? step : left;
    return p;
  }
  // n bytes of the room, else of a block the room frees with itself (byte
  // aligned); nullptr when no block could be had.
  uint8_t* Place(uint32_t n) {
    uint8_t* p = Take(n);
    return p != nullptr ? p : Extend(n);
  }
  bool Holds(const void* p) const {
    const auto* b = static_cast<const uint8_t*>(p);
    return b >= begin_ && b <= end_;
  }

 private:
  uint8_t* Extend(uint32_t n);

  uint8_t* begin_;
  uint8_t* next_;
  uint8_t* end_;
  uint8_t* extensions_ = nullptr;  // each starts with the address of the one before
};

// Sole owner of one block; releases it on scope exit unless handed on.
class BlockOwner {
 public:
  BlockOwner() = default;
  explicit BlockOwner(uint8_t* p) : p_(p) {}
  BlockOwner(const BlockOwner&) = delete;
  BlockOwner& operator=(const BlockOwner&) = delete;
  BlockOwner(BlockOwner&& o) noexcept : p_(o.release()) {}
  BlockOwner& operator=(BlockOwner&& o) noexcept {
    reset(o.release());
    return *this;
  }
  ~BlockOwner() { reset(); }

  uint8_t* get() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  uint8_t* release() {
    uint8_t* p = p_;
    p_ = nullptr;
    return p;
  }
  void reset(uint8_t* p = nullptr) {
    if (p_ != nullptr) (void)BlockFree(p_);
    p_ = p;
  }

 private:
  uint8_t* p_ = nullptr;
};

}  // namespace qd
