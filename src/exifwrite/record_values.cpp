#include "exifwrite/record_values.h"

#include "exifwrite/maker_arrays.h"
#include "format/property_codes.h"

namespace qd {
namespace {

// Records that set array words: word first + i takes the payload's u16 i,
// all of them or none.
struct WordRecord {
  uint16_t code;
  bool shotInfo;
  uint8_t first, count;
};
constexpr WordRecord kWordRecords[] = {
    {kPropCameraSettingsPair, false, 5, 2}, {kPropShotInfoPair, true, 7, 2},
    {kPropCameraSetting3, false, 3, 1},     {kPropCameraSetting4, false, 4, 1},
    {kPropShotInfo14, true, 14, 1},         {kPropShotInfo24, true, 24, 1},
    {kPropCameraSetting7, false, 7, 1},     {kPropCameraSetting20, false, 20, 1},
    {kPropFocalUnits, false, 23, 3},        {kPropCameraSetting29, false, 29, 1},
    {kPropCameraSetting18, false, 18, 1},   {kPropCameraSettings26, false, 26, 2},
    {kPropCameraSetting40, false, 40, 1},   {kPropCameraSetting42, false, 42, 1},
};

// A length-prefixed run of camera settings: element first + i takes p[1 + i]
// when the run's byte length reaches 4 + 2i.
uint32_t SettingsRun(const Payload& p, uint32_t first, uint32_t count, ArrayWord* out) {
  if (!p.Has(2)) return 0;
  const uint16_t length = p.U16(0);
  uint32_t n = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (length < 4 + 2 * i || !p.Has(2 * (i + 2))) break;
    out[n++] = {false, static_cast<uint8_t>(first + i), p.U16(1 + i)};
  }
  return n;
}

uint16_t Steps(double v) { return static_cast<uint16_t>(RoundHalfAway(v * 32)); }

}  // namespace

uint32_t RecordArrayWords(uint16_t code, const Payload& p, ArrayWord (&out)[kMaxArrayWords]) {
  for (const WordRecord& w : kWordRecords) {
    if (w.code != code) continue;
    if (!p.Has(2u * w.count)) return 0;
    for (uint32_t i = 0; i < w.count; ++i) out[i] = {w.shotInfo, static_cast<uint8_t>(w.first + i), p.U16(i)};
    return w.count;
  }
  switch (code) {
    case kPropCameraSettingsRun: return SettingsRun(p, 10, 8, out);
    case kPropCameraSettingsRun2: return SettingsRun(p, 32, 6, out);
    case kPropIsoSpeed:
      if (!p.Has(2)) return 0;
      out[0] = {true, 2, SpeedCodeFromIso(p.U16(0))};
      return 1;
    case kPropShotInfoEv:
      if (!p.Has(6)) return 0;
      out[0] = {true, 16, p.U16(0)};
      out[1] = {true, 17, Steps(p.F32At(2))};
      return 2;
    case kPropShotInfo15:
      if (!p.Has(4)) return 0;
      out[0] = {true, 15, Steps(p.F32At(0))};
      return 1;
    default: return 0;
  }
}

bool OrientationOf(const Payload& p, uint16_t* orientation) {
  if (!p.Has(6)) return false;
  const bool mirrored = p.U16(2) != 0;
  switch (p.U32At(0)) {
    case 0: *orientation = mirrored ? 2 : 1; return true;
    case 90: *orientation = mirrored ? 7 : 6; return true;
    case 180: *orientation = mirrored ? 4 : 3; return true;
    case 270: *orientation = mirrored ? 5 : 8; return true;
    default: return false;
  }
}

void ConvertShot(const ExifShotValues& shot, ShotConversion* out) {
  *out = ShotConversion{};
  auto word = [out](bool shotInfo, uint8_t index, uint16_t value) {
    out->words[out->wordCount++] = {shotInfo, index, value};
  };
  if (shot.shutterSpeed != 100.0f) {
    out->shutter[0] = RoundHalfAway(double{shot.shutterSpeed} * 65536);
    out->shutter[1] = 65536;
    out->hasShutter = true;
    word(true, 5, Steps(shot.shutterSpeed));
  }
  if (shot.aperture != -1.0f) {
    // Not rounded half away from zero like the others: 0.5 added, then truncated.
    out->aperture[0] = static_cast<uint32_t>(Truncate(double{shot.aperture} * 65536 + 0.5));
    out->aperture[1] = 65536;
    out->hasAperture = true;
    word(true, 4, Steps(shot.aperture));
  }
  if (shot.exposureCompensation != 100.0f) {
    out->bias[0] = RoundHalfAway(double{shot.exposureCompensation} * 6);
    out->bias[1] = 6;
    out->hasBias = true;
    word(true, 6, Steps(shot.exposureCompensation));
  }
  if (shot.additionalEv != -1.0f) {
    word(true, 13, shot.additionalEv == 0.0f
                       ? 0
                       : static_cast<uint16_t>(Truncate(double{shot.additionalEv} * 32 + 0.5)));
  }
  if (shot.settingWord != 0xFFFF) word(false, 2, static_cast<uint16_t>(shot.settingWord / 100));
  if (shot.settingFlag == 1) word(false, 1, 1);
  if (shot.settingFlag == 0) word(false, 1, 2);
}

}  // namespace qd
