// What a property record or the shot values set in the camera's two arrays
// (camera settings, shot information) and in the exposure values: read in
// one place for the Exif writer and the rewrites of existing files.
#pragma once

#include <cstdint>

#include "exifwrite/property_payload.h"
#include "qdparse.h"

namespace qd {

// One element of the camera-settings array (shotInfo false) or the shot-info array.
struct ArrayWord {
  bool shotInfo;
  uint8_t index;
  uint16_t value;
};
constexpr uint32_t kMaxArrayWords = 8;

// The elements record `code` sets by itself; returns how many (0 for codes
// that set none and for records too short for their code).
uint32_t RecordArrayWords(uint16_t code, const Payload& p, ArrayWord (&out)[kMaxArrayWords]);

// The Orientation value of an orientation record (angle and mirroring);
// false when the record is too short or the angle is not a right angle.
bool OrientationOf(const Payload& p, uint16_t* orientation);

// The shot values as the Exif tags and maker-note elements hold them; each
// part only when its field is not the value meaning absent.
struct ShotConversion {
  bool hasShutter = false, hasAperture = false, hasBias = false;
  int32_t shutter[2] = {};   // ShutterSpeedValue
  uint32_t aperture[2] = {}; // ApertureValue
  int32_t bias[2] = {};      // ExposureBiasValue
  ArrayWord words[kMaxArrayWords] = {};
  uint32_t wordCount = 0;
};
void ConvertShot(const ExifShotValues& shot, ShotConversion* out);

}  // namespace qd
