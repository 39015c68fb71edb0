// TIFF structure as the library reads it: an 8-byte header ("II"/"MM", 42,
// offset of IFD0), IFDs of {u16 count, count x 12-byte entries, u32 next},
// entries of {u16 tag, u16 type, u32 count, u32 value-or-offset}.
#pragma once

#include <cstdint>

#include "format/exif_tags.h"

namespace qd::tiff {

constexpr uint32_t kHeaderSize = 8;
constexpr uint32_t kEntrySize = 12;
constexpr uint32_t kCountSize = 2;
constexpr uint32_t kLinkSize = 4;
constexpr uint32_t kInlineSize = 4;

enum FieldType : uint16_t {
  kByte = 1,
  kAscii = 2,
  kShort = 3,
  kLong = 4,
  kRational = 5,
  kUndefined = 7,
  kSLong = 9,
  kSRational = 10,
};

// Element size of a type the value readers understand, 0 for any other.
// Rationals count as two 4-byte elements per value.
// A table, not a switch: walks ask it once per value, of mixed types.
inline uint32_t ElementSize(uint16_t type) {
  static constexpr uint8_t kSizes[16] = {0, 1, 1, 2, 4, 4, 0, 1, 0, 4, 4, 0, 0, 0, 0, 0};
  return type < 16 ? kSizes[type] : 0;
}
// Bytes per counted value: a rational is two elements.
inline uint32_t ValueSize(uint16_t type) {
  static constexpr uint8_t kSizes[16] = {0, 1, 1, 2, 4, 8, 0, 1, 0, 4, 8, 0, 0, 0, 0, 0};
  return type < 16 ? kSizes[type] : 0;
}

}  // namespace qd::tiff
