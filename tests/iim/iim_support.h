// IIM fixtures, shared with the export sweep: a block of datasets behind
// IFD0's IPTC-NAA tag of an Exif JPEG or TIFF, and exchange records.
#pragma once

#include <string>

#include "extract/parse_support.h"

namespace qdtest::iim {
using namespace parse;

// 0x1C, record, dataset, the length (extended: `lengthBytes` big-endian bytes), data.
inline Bytes Dataset(uint8_t record, uint8_t dataset, const std::string& data, uint8_t lengthBytes = 0) {
  const size_t n = data.size();
  Bytes b = {0x1C, record, dataset, static_cast<uint8_t>(lengthBytes ? 0x80 : n >> 8),
             static_cast<uint8_t>(lengthBytes ? lengthBytes : n)};
  for (int i = lengthBytes - 1; i >= 0; --i) b.push_back(i < 4 ? static_cast<uint8_t>(n >> (8 * i)) : 0);
  return Concat({b, Bytes(data.begin(), data.end())});
}
// An IimRecord: record, dataset, u32 little-endian length, data.
inline Bytes Record(uint8_t record, uint8_t dataset, const std::string& data) {
  Bytes b = {record, dataset, 0, 0, 0, 0};
  PutU32(b, 2, static_cast<uint32_t>(data.size()), false);
  return Concat({b, Bytes(data.begin(), data.end())});
}
// A null-terminated list over the records laid one after another in `bytes`.
inline std::vector<IimRecord*> List(const Bytes& bytes) {
  std::vector<IimRecord*> out;
  for (size_t at = 0; at < bytes.size(); at += 6 + GetU32(&bytes[at + 2], false)) {
    out.push_back(reinterpret_cast<IimRecord*>(const_cast<uint8_t*>(&bytes[at])));
  }
  out.push_back(nullptr);
  return out;
}
inline const std::string kZeros(8, '\0');

// Chosen (2:05, 2:25, 2:80) and passed-over datasets (2:00, 2:95, an extended
// 2:120, a 2:90 after the run's end).
inline Bytes Block(const std::string& name = "ObjectName", const std::string& keyword = "kw",
                   const std::string& version = std::string("\0\4", 2)) {
  return Concat({Dataset(2, 0, version), Dataset(2, 5, name), Dataset(2, 95, "abc"), Dataset(2, 120, "caption", 2),
                 Dataset(2, 25, keyword), Dataset(2, 80, "By-line"), {0}, Dataset(2, 90, "zz")});
}
inline const Bytes kChosen = Concat({Record(2, 5, "ObjectName"), Record(2, 25, "kw"), Record(2, 80, "By-line")});

inline Bytes IimTiff(Order order, const Bytes& iim = Block(), const char* model = nullptr) {
  TiffShape t = ExifTiffShape(order);
  t.iptc = iim;
  t.exifIfd = model == nullptr;
  if (model != nullptr) t.make = "Vedra", t.model = model;
  return BuildTiffFile(t).bytes;
}
inline Bytes IimJpeg(const Bytes& iim = Block()) {
  TiffBuilder tb(Order::MM);
  tb.NewIfd().Ascii(0x010F, "Vedra").Undefined(0x83BB, iim);
  return JpegWith({App1(App1Payload(tb.Build().bytes))});
}

}  // namespace qdtest::iim
