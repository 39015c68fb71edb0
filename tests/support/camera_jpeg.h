// An Exif JPEG laid out as the cameras write it (SOI, APP1 Exif with IFD0,
// Exif IFD, interoperability IFD and IFD1 with a 160x120 JPEG thumbnail, one
// DQT, one DHT, SOF0 sampled 2x1, SOS, data, EOI), with knobs for the edits
// that make a file no longer one of theirs:
//
//   CameraShape s;
//   s.exifVersion = "0230";
//   s.extra = [](CameraIfds& f) { f.ifd0.Short(0x0100, {64}); };
//   Bytes jpeg = CameraJpeg(s);
#pragma once

#include <functional>
#include <set>
#include <string>

#include "support/jpeg_builder.h"
#include "support/tiff_builder.h"

namespace qdtest {

struct CameraIfds { TiffIfd &ifd0, &exif, &interop, &ifd1; };

struct CameraShape {
  Order order = Order::II;
  // portrait: a 120x160 thumbnail, both images sampled 1x2; adobeRgbTags: white
  // point, primaries, coefficients and gamma.
  bool portrait = false, adobeRgbTags = false, ifd1 = true;
  std::string make = "Vedra", exifVersion = "0220", interopIndex = "R98";
  uint16_t colorSpace = 1;
  // Tag 0x927C when not empty.
  Bytes makerNote;
  // Usual tags left out, and entries added after the usual ones.
  std::set<uint16_t> omit;
  std::function<void(CameraIfds&)> extra;
  // Default: CameraImage(160, 120, 0x21), or (120, 160, 0x12) for a portrait.
  Bytes thumbnail;
};

// An encoded image with one DQT and one DHT (libjpeg writes one per table),
// in the cameras' order: SOI, DQT, DHT, SOF0, SOS.
Bytes CameraImage(uint16_t width, uint16_t height, uint8_t sampling);
Bytes CameraJpeg(const CameraShape& shape = {});

}  // namespace qdtest
