// Property record codes: {u16 code, u32 size, payload}. One table for the
// Exif writer, heap creation, the parse and rewrite paths, and the names and
// payload layouts the host library hands out.
#pragma once

#include <cstdint>

namespace qd {

// code, name, payload layout. The enumerator is kProp + name; the layout
// grammar is documented for hosts at qdhPropertyLayout in qdparse_host.h.
#define QD_PROPERTY_LIST(X)                                                                         \
  X(0x01, UserComment, "text")                                                                      \
  X(0x02, CameraSettingsPair, "u16 cs5, u16 cs6")                                                   \
  X(0x03, MakerTag0005, "u32s")                                                                     \
  X(0x04, MakerTag0002, "u16s") /* two u32, kept as four u16 */                                     \
  X(0x05, Thumbnail, "jpeg")                                                                        \
  X(0x06, ShotInfoPair, "u16 si7, u16 si8")                                                         \
  X(0x07, Orientation, "u32 angle, u16 mirrored")                                                   \
  X(0x08, FocalPlane, "rational focalLength, rational xResolution, rational yResolution, u16 unit") \
  X(0x09, CameraSetting3, "u16")                                                                    \
  X(0x0A, CameraSettingsRun, "u16 length, u16s words")                                              \
  X(0x0B, CodedUserComment, "char8 code, ctext text")                                               \
  X(0x0C, IsoSpeed, "u16")                                                                          \
  X(0x0D, MakerTag000F, "u16s")                                                                     \
  X(0x0E, MakerTag000C, "u32")                                                                      \
  X(0x0F, CameraSetting4, "u16")                                                                    \
  X(0x10, ShotInfo14, "u16")                                                                        \
  X(0x11, ShotInfo24, "u16")                                                                        \
  X(0x12, CameraSetting7, "u16")                                                                    \
  X(0x13, CameraSetting20, "u16")                                                                   \
  X(0x14, FocalUnits, "u16 cs23, u16 cs24, u16 cs25")                                               \
  X(0x15, CameraSetting29, "u16")                                                                   \
  X(0x16, ShotInfoEv, "u16 si16, f32 ev")                                                           \
  X(0x17, ShotInfo15, "f32")                                                                        \
  X(0x18, CameraSettingsRun2, "u16 length, u16s words")                                             \
  X(0x19, CameraSetting18, "u16")                                                                   \
  X(0x1A, CameraSettings26, "u16 cs26, u16 cs27")                                                   \
  X(0x1B, MakerTag0080, "u32s") /* 0x1B..0x2A: maker-note tags in the order they are written */     \
  X(0x1C, MakerTag0081, "u32s")                                                                     \
  X(0x1D, MakerTag0090, "u16s")                                                                     \
  X(0x1E, MakerTag0091, "u16s")                                                                     \
  X(0x1F, MakerTag0092, "u16s")                                                                     \
  X(0x20, MakerTag0093, "u16s")                                                                     \
  X(0x21, MakerTag0094, "bytes")                                                                    \
  X(0x22, MakerTag00A0, "u16s")                                                                     \
  X(0x23, MakerTag00A1, "u16s")                                                                     \
  X(0x24, MakerTag00A2, "u16s")                                                                     \
  X(0x25, MakerTag00A3, "u16s")                                                                     \
  X(0x26, MakerTag00A4, "u16s")                                                                     \
  X(0x27, MakerTag00B0, "u16s")                                                                     \
  X(0x28, MakerTag00B1, "u16s")                                                                     \
  X(0x29, MakerTag00B2, "u16s")                                                                     \
  X(0x2A, MakerTag00B3, "u16s")                                                                     \
  X(0x2B, CameraSetting40, "u16")                                                                   \
  X(0x2C, CameraSetting42, "u16")                                                                   \
  X(0x2D, ExposureTime, "rational")                                                                 \
  X(0x2E, FNumber, "rational")                                                                      \
  X(0x2F, ShutterSpeed, "srational")                                                                \
  X(0x30, Aperture, "rational")                                                                     \
  X(0x31, ExposureBias, "srational")                                                                \
  X(0x32, Flash, "u16")                                                                             \
  X(0x33, ExifVersion, "text")                                                                      \
  X(0x34, CustomRendered, "u16s")                                                                   \
  X(0x35, ExposureMode, "u16s")                                                                     \
  X(0x36, WhiteBalance, "u16s")                                                                     \
  X(0x37, DigitalZoomRatio, "rationals")                                                            \
  X(0x38, SceneCaptureType, "u16s")                                                                 \
  X(0x39, ColorSpace, "u16")                                                                        \
  X(0x3A, MakerTag0010, "u32s")                                                                     \
  X(0x3B, MakerTag0013, "u16s")                                                                     \
  X(0x3C, MakerTag0015, "u32s")                                                                     \
  X(0x80, Make, "ctext")                                                                            \
  X(0x81, MakerTag000FAlt, "u16s")                                                                  \
  X(0x82, MakerTag0090Alt, "u16s")                                                                  \
  X(0x83, CameraRotation, "u32s") /* also the maker-note tag 0x0016 record */                       \
  X(0x84, MakerTag00AE, "u16s")                                                                     \
  X(0x85, ColourMode, "u16s") /* maker-note tag 0x00B4; its first u16 picks the colour space */     \
  X(0x86, MakerTag00B5, "u16s")                                                                     \
  X(0x87, MakerTag0012, "u16s")                                                                     \
  X(0x88, WhitePoint, "rationals")                                                                  \
  X(0x89, Primaries, "rationals")                                                                   \
  X(0x8A, YCbCrCoefficients, "rationals")                                                           \
  X(0x8B, Gamma, "rational")                                                                        \
  X(0x8C, MakerTag0019, "u16s")                                                                     \
  X(0x8D, MakerTag001A, "u16s")                                                                     \
  X(0x8E, MakerTag001B, "bytes")                                                                    \
  X(0x8F, InfoWord, "u32")                                                                          \
  X(0x90, MakerTag0003, "u32")                                                                      \
  X(0x98, InfoPair, "u32 first, u32 second")                                                        \
  X(0x102, WideGamutA, "u16") /* always 1 */                                                        \
  X(0x104, WideGamutB, "u16") /* always 1 */                                                        \
  X(0x105, ColourSpaceCode, "u16")                                                                  \
  X(0x106, IccProfile, "bytes")                                                                     \
  X(0x107, IimBlock, "bytes")                                                                       \
  X(0x108, MakerTag001D, "u16s")                                                                    \
  X(0x10A, FileSource, "bytes")                                                                     \
  X(0x111, MakerTag0023, "u32s")

enum PropertyCode : uint16_t {
#define QD_PROPERTY_ENUM(code, name, layout) kProp##name = code,
  QD_PROPERTY_LIST(QD_PROPERTY_ENUM)
#undef QD_PROPERTY_ENUM
  kPropLast = kPropMakerTag0023,
};

}  // namespace qd
