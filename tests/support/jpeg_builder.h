// JPEG fixtures: small encoded images with decodable image data, and the
// marker segments the library reads, laid out by hand and spliced into them.
//
//   JpegShape grey;
//   grey.components = 1;
//   Bytes jpeg = AfterSoi(EncodeJpeg(grey),
//                         {App1(App1Payload(tiff)), Fill(3, IccApp2(1, 1, icc))});
//
// Images come from libjpeg when the tests were built with it; otherwise (the
// 32-bit build) from a small hand-made encoder of flat images with the same
// shapes. Nothing here uses the library's own code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <vector>

namespace qdtest {

using Bytes = std::vector<uint8_t>;

namespace marker {
constexpr uint8_t kSOF0 = 0xC0, kSOF1 = 0xC1, kSOF2 = 0xC2, kDHT = 0xC4, kSOI = 0xD8, kEOI = 0xD9,
                  kSOS = 0xDA, kDQT = 0xDB, kAPP0 = 0xE0, kAPP1 = 0xE1, kAPP2 = 0xE2, kAPP13 = 0xED,
                  kCOM = 0xFE;
}  // namespace marker

struct JpegShape {
  uint16_t width = 40, height = 24;
  uint8_t components = 3;   // 1 (grey) or 3 (YCbCr)
  uint8_t sampling = 0x22;  // first component: horizontal * 16 + vertical; grey is always 0x11
  bool progressive = false;
  bool jfif = true;  // the encoder's JFIF APP0 right after SOI
};

// The JFIF header the encoder writes (and JfifApp0 by default).
constexpr uint16_t kJfifVersion = 0x0102;
constexpr uint8_t kJfifUnits = 1;
constexpr uint16_t kJfifXDensity = 300;
constexpr uint16_t kJfifYDensity = 150;

// A complete JPEG file: SOI, [JFIF APP0], DQT, SOF0 or SOF2, DHT, scans, EOI.
Bytes EncodeJpeg(const JpegShape& shape = {});

// 0xFF, the marker, a length field (payload + 2 unless `length` is given) and the payload.
Bytes Segment(uint8_t marker, const Bytes& payload, std::optional<uint16_t> length = {});
Bytes JfifApp0(uint16_t version = kJfifVersion, uint8_t units = kJfifUnits,
               uint16_t xDensity = kJfifXDensity, uint16_t yDensity = kJfifYDensity);
// An APP0 carrying a heap file image (build it with subtype "JPGM").
inline Bytes HeapApp0(const Bytes& heapFile) { return Segment(marker::kAPP0, heapFile); }
// An APP1 around a payload such as App1Payload's ("Exif\0\0" + TIFF).
inline Bytes App1(const Bytes& payload) { return Segment(marker::kAPP1, payload); }
// "ICC_PROFILE\0", chunk `sequence` of `count`, then the profile bytes.
Bytes IccApp2(uint8_t sequence, uint8_t count, const Bytes& profile);
// "Photoshop 3.0\0" and one "8BIM" IPTC-NAA resource (0x0404, empty name)
// holding `iim`; `sizeField` overrides its 32-bit size as written.
Bytes IimApp13(const Bytes& iim, std::optional<uint32_t> sizeField = {});
// `extra` fill bytes (0xFF) in front of a segment's marker.
Bytes Fill(size_t extra, const Bytes& segment);

// Offset of the 0xFF of the first segment with `marker`, found by walking
// the segments in front of the first scan by their lengths; EOI is the last
// two bytes. npos when there is none.
constexpr size_t npos = static_cast<size_t>(-1);
size_t SegmentOffset(const Bytes& jpeg, uint8_t marker);
// `pieces` inserted at `at`, in order.
Bytes Insert(const Bytes& jpeg, size_t at, std::initializer_list<Bytes> pieces);
inline Bytes AfterSoi(const Bytes& jpeg, std::initializer_list<Bytes> pieces) {
  return Insert(jpeg, 2, pieces);
}
// The pieces joined, for files laid out entirely by hand.
Bytes Concat(std::initializer_list<Bytes> pieces);

}  // namespace qdtest
