// The two 16-bit arrays the camera keeps in its maker note (camera settings,
// tag 0x0001; shot information, tag 0x0004), their defaults, and the speed
// codes of shot-info element 2. Shared by the Exif writer and heap creation.
#pragma once

#include <cstdint>

namespace qd {

constexpr uint32_t kCameraSettingsCount = 46;
constexpr uint32_t kShotInfoCount = 33;

// Each array starts with its own length in bytes.
void DefaultCameraSettings(uint16_t (&cs)[kCameraSettingsCount]);
void DefaultShotInfo(uint16_t (&si)[kShotInfoCount]);

// Shot-info element 2 for an ISO speed.
uint16_t SpeedCodeFromIso(uint16_t iso);
// Shot-info element 2 for camera-settings element 16: a speed when bit
// 0x4000 is set, else an index.
uint16_t SpeedCodeFromSetting(uint16_t setting);

// Half away from zero, then truncated toward zero (saturating).
int32_t RoundHalfAway(double v);
// Truncated toward zero (saturating); NaN is 0.
int32_t Truncate(double v);

}  // namespace qd
