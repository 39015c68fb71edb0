#include "exifwrite/maker_arrays.h"

#include <cmath>
#include <cstdint>

namespace qd {
namespace {

struct SpeedCode {
  uint16_t speed;
  uint16_t code;
};

constexpr SpeedCode kIsoCodes[] = {{3, 0},      {6, 32},     {12, 64},    {25, 96},    {50, 128},
                                   {100, 160},  {200, 192},  {400, 224},  {800, 256},  {1600, 288},
                                   {3200, 320}, {6400, 352}, {12500, 384}};

constexpr uint16_t kSpeedFlag = 0x4000;

}  // namespace

int32_t Truncate(double v) {
  if (!(v == v)) return 0;
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(v);
}

void DefaultCameraSettings(uint16_t (&cs)[kCameraSettingsCount]) {
  static constexpr uint16_t kDefaults[kCameraSettingsCount] = {
      92,     0,      0,      0xFFFF, 0xFFFF, 0xFFFF, 0,      4,      0xFFFF, 0xFFFF,
      0xFFFF, 0xFFFF, 0,      0x7FFF, 0x7FFF, 0x7FFF, 0x7FFF, 0xFFFF, 2,      0,
      0xFFFF, 0xFFFF, 0xFFFF, 0,      0,      32,     0,      0,      0xFFFF, 0,
      0,      0,      0xFFFF, 0xFFFF, 0xFFFF, 0,      0,      0,      0,      0xFFFF,
      0xFFFF, 0,      0x7FFF, 0x7FFF, 0xFFFF, 0xFFFF};
  for (uint32_t i = 0; i < kCameraSettingsCount; ++i) cs[i] = kDefaults[i];
}

void DefaultShotInfo(uint16_t (&si)[kShotInfoCount]) {
  static constexpr uint16_t kDefaults[kShotInfoCount] = {
      66, 0, 0, 0, 0, 0, 0, 0xFFFF, 3, 0, 8, 8, 0, 0, 0, 0, 0,
      0,  0, 0, 0, 0, 0, 0, 0,      0, 0, 0xFFFF, 0xFFFF, 0xFFFF, 0, 0, 0};
  for (uint32_t i = 0; i < kShotInfoCount; ++i) si[i] = kDefaults[i];
}

uint16_t SpeedCodeFromIso(uint16_t iso) {
  for (const SpeedCode& c : kIsoCodes) {
    if (c.speed == iso) return c.code;
  }
  // 32 x log2(s x 0.32), with 0.32 as a single-precision constant.
  const double code = 32.0 * std::log(iso * static_cast<double>(0.32f)) / std::log(2.0);
  return static_cast<uint16_t>(Truncate(code));
}

uint16_t SpeedCodeFromSetting(uint16_t setting) {
  if ((setting & kSpeedFlag) != 0) {
    const uint16_t speed = setting & 0x3FFF;
    if (speed == 64) return 139;
    if (speed < 50) return 0;  // 3, 6, 12 and 25 are not setting speeds
    for (const SpeedCode& c : kIsoCodes) {
      if (c.speed == speed) return c.code;
    }
    return 0;
  }
  if (setting >= 16 && setting <= 24) return static_cast<uint16_t>(128 + 32 * (setting - 16));
  return 0;
}

int32_t RoundHalfAway(double v) {
  return Truncate(v > 0 ? v + 0.5 : v - 0.5);
}

}  // namespace qd
