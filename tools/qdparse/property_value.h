// A single property's identifier and how its value reads and is written:
// shared by `get` and `set-value`.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qdtool {

// The property identifier's parts: tag or record type, Exif field type,
// location class, conversion.
struct PropertyId {
  explicit PropertyId(uint32_t id)
      : tag(id & 0xFFFF), exifType((id >> 16) & 0xF), converted(((id >> 24) & 0xF) != 0) {}
  uint16_t tag;
  uint16_t exifType;
  bool converted;
};

// Values in little-endian order, as the library writes them.
template <typename T>
std::vector<uint64_t> Numbers(const std::vector<uint8_t>& bytes) {
  std::vector<uint64_t> out;
  for (size_t at = 0; at + sizeof(T) <= bytes.size(); at += sizeof(T)) {
    uint64_t v = 0;
    for (size_t i = 0; i < sizeof(T); ++i) v |= uint64_t{bytes[at + i]} << (8 * i);
    out.push_back(v);
  }
  return out;
}

// How the value reads: text, 16-bit or 32-bit numbers, or bytes only.
enum class Shape { kText, kU16, kU32, kRational, kBytes };

inline Shape ShapeOf(uint8_t fileType, const PropertyId& id) {
  if (id.converted) return Shape::kU32;
  if (fileType == 5 || fileType == 8) {
    switch (id.exifType) {
      case 2: return Shape::kText;
      case 3: return Shape::kU16;
      case 4: return Shape::kU32;
      case 5: return Shape::kRational;
      default: return Shape::kBytes;
    }
  }
  switch (id.tag & 0x3800) {
    case 0x0800: return Shape::kText;
    case 0x1000: return Shape::kU16;
    case 0x1800: return Shape::kU32;
    default: return Shape::kBytes;
  }
}

// The file type whose reading an identifier implies: an Exif field type
// names a tag, none a heap record.
inline uint8_t ImpliedFileType(const PropertyId& id) { return id.exifType != 0 ? 5 : 1; }

// "YYYY:MM:DD HH:MM:SS" as the host's local-time seconds; false when malformed.
bool ParseDate(const std::string& text, int32_t* seconds);

// The bytes of a value given as text: a date for converted identifiers,
// the text itself for text values, numbers separated by commas (rationals
// as "n/d"), or hexadecimal digits for bytes. Numbers little-endian.
bool ParseValue(Shape shape, bool converted, const std::string& text, std::vector<uint8_t>* bytes);

}  // namespace qdtool
