// The typed property records that the parse exports write to their
// property stream ({u16 code, u32 size, payload}, little-endian), decoded
// into named fields by the layouts the host library gives each code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "render.h"

namespace qdtool {

using Bytes = std::vector<uint8_t>;

struct Field {
  std::string name;  // empty: the record's only value
  std::string text;
  Json json;
};

struct Record {
  uint16_t code = 0;
  uint32_t size = 0;
  const char* name = nullptr;  // nullptr: a code the host library does not know
  std::vector<Field> fields;
  Bytes payload;        // the whole payload, as the file gave it
  Bytes rest;           // bytes beyond the layout, or the whole payload of an unknown code
  bool truncated = false;  // the payload ended inside the layout
};

// Property record codes of the values a photographer reads first.
constexpr uint16_t kIsoSpeedRecord = 0x000C;
constexpr uint16_t kExposureTimeRecord = 0x002D;
constexpr uint16_t kFNumberRecord = 0x002E;
constexpr uint16_t kMakeRecord = 0x0080;

// Splits a record stream; a tail too short for its framing sets `truncated`.
std::vector<Record> SplitRecords(const Bytes& stream, bool* truncated);

// The first record with `code`, or null.
const Record* FindRecord(const std::vector<Record>& records, uint16_t code);

// A RATIONAL-first payload as a number; false when it is shorter or the
// denominator is 0.
bool RationalValue(const Record& r, double* value);

// An exposure time as photographers and the common readers write it:
// "1/160", "0.5", "2".
std::string ExposureText(double seconds);

// The Exif tag name of the value a record carries where one exists
// ("ExposureBiasValue"), else the library's record name; null for codes the
// library does not know.
const char* StandardName(const Record& r);

// The value with its unit or meaning ("1/125 s", "f/5.7", "sRGB"); empty
// when the record has no such reading.
std::string DisplayValue(const Record& r);

}  // namespace qdtool
