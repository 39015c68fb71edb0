// Property record codes: {u16 code, u32 size, payload}. One table for the
// Exif writer, heap creation and the parse and rewrite paths.
#pragma once

#include <cstdint>

namespace qd {

enum PropertyCode : uint16_t {
  kPropUserComment = 0x01,         // text
  kPropCameraSettingsPair = 0x02,  // u16, u16
  kPropMakerTag0005 = 0x03,        // three u32
  kPropMakerTag0002 = 0x04,        // two u32, kept as four u16
  kPropThumbnail = 0x05,           // JPEG bytes
  kPropShotInfoPair = 0x06,        // u16, u16
  kPropOrientation = 0x07,         // u32 angle, u16 mirrored
  kPropFocalPlane = 0x08,          // six u32 (three rationals), u16 unit
  kPropCameraSetting3 = 0x09,      // u16
  kPropCameraSettingsRun = 0x0A,   // length-prefixed u16 array
  kPropCodedUserComment = 0x0B,    // char[8] code, u32 n, n bytes
  kPropIsoSpeed = 0x0C,            // u16
  kPropMakerTag000F = 0x0D,
  kPropMakerTag000C = 0x0E,        // u32
  kPropCameraSetting4 = 0x0F,
  kPropShotInfo14 = 0x10,
  kPropShotInfo24 = 0x11,
  kPropCameraSetting7 = 0x12,
  kPropCameraSetting20 = 0x13,
  kPropFocalUnits = 0x14,          // u16 x3: CS[23], CS[24], CS[25]
  kPropCameraSetting29 = 0x15,
  kPropShotInfoEv = 0x16,          // u16, f32
  kPropShotInfo15 = 0x17,          // f32
  kPropCameraSettingsRun2 = 0x18,  // length-prefixed u16 array
  kPropCameraSetting18 = 0x19,
  kPropCameraSettings26 = 0x1A,    // u16 x2
  kPropMakerTag0080 = 0x1B,        // 0x1B..0x2A: maker-note tags, one each
  kPropMakerTag00B3 = 0x2A,
  kPropCameraSetting40 = 0x2B,
  kPropCameraSetting42 = 0x2C,
  kPropExposureTime = 0x2D,        // u32, u32
  kPropFNumber = 0x2E,             // u32, u32
  kPropShutterSpeed = 0x2F,        // i32, i32
  kPropAperture = 0x30,            // u32, u32
  kPropExposureBias = 0x31,        // i32, i32
  kPropFlash = 0x32,               // u16
  kPropExifVersion = 0x33,         // 4 characters
  kPropCustomRendered = 0x34,
  kPropExposureMode = 0x35,
  kPropWhiteBalance = 0x36,
  kPropDigitalZoomRatio = 0x37,
  kPropSceneCaptureType = 0x38,
  kPropColorSpace = 0x39,          // u16
  kPropMakerTag0010 = 0x3A,
  kPropMakerTag0013 = 0x3B,
  kPropMakerTag0015 = 0x3C,
  kPropMake = 0x80,                // u32 n, n bytes
  kPropMakerTag000FAlt = 0x81,
  kPropMakerTag0090Alt = 0x82,
  kPropMakerTag00AE = 0x84,
  kPropColourMode = 0x85,          // maker-note tag 0x00B4; its first u16 picks the colour space
  kPropMakerTag00B5 = 0x86,
  kPropMakerTag0012 = 0x87,
  kPropWhitePoint = 0x88,          // 2 rationals
  kPropPrimaries = 0x89,           // 6 rationals
  kPropYCbCrCoefficients = 0x8A,   // 3 rationals
  kPropGamma = 0x8B,               // 1 rational
  kPropMakerTag001A = 0x8D,  // 0x8C carries maker-note tag 0x0019
  kPropMakerTag001B = 0x8E,
  kPropMakerTag0003 = 0x90,        // u32
  kPropCameraRotation = 0x83,      // also the maker-note tag 0x0016 record
  kPropInfoWord = 0x8F,            // u32
  kPropInfoPair = 0x98,            // two u32
  kPropMakerTag0019 = 0x8C,
  kPropWideGamutA = 0x102,         // u16 1
  kPropWideGamutB = 0x104,         // u16 1
  kPropColourSpaceCode = 0x105,    // u16
  kPropIccProfile = 0x106,         // bytes
  kPropIimBlock = 0x107,           // bytes
  kPropMakerTag001D = 0x108,
  kPropFileSource = 0x10A,
  kPropMakerTag0023 = 0x111,
  kPropLast = 0x111,
};

}  // namespace qd
