#include "exifwrite/exif_buffer.h"

#include <cstring>
#include <ctime>
#include <utility>

#include "exifwrite/camera_models.h"
#include "exifwrite/maker_arrays.h"
#include "exifwrite/property_payload.h"
#include "exifwrite/record_values.h"
#include "format/property_codes.h"
#include "frame/byte_order.h"
#include "frame/calendar.h"
#include "frame/memory_block.h"
#include "tiffjpeg/exif_builder.h"
#include "format/tiff_format.h"

namespace qd::exif {
namespace {

using namespace qd::tiff;

constexpr char kFirmware[] = "Firmware Version 00.00";
constexpr uint32_t kTextField = 32;
constexpr uint32_t kDateField = 20;
constexpr uint32_t kMinUserComment = 264;
constexpr uint32_t kCommentTextAt = 8;  // after the character-code field
constexpr uint16_t kColorSpaceSrgb = 1;
constexpr uint16_t kColorSpaceUncalibrated = 0xFFFF;

// A value as the IFD tables take it: host-order bytes and their size.
struct Field {
  const void* data = nullptr;
  uint32_t size = 0;
  bool present = false;

  void Set(const void* d, uint32_t n) {
    data = d;
    size = n;
    present = true;
  }
};

// Pass-through maker-note tags, in the order the maker note is written.
struct MakerPassThrough {
  uint16_t tag;
  uint16_t type;
  uint16_t code;  // the record that supplies it
};

constexpr MakerPassThrough kMakerTail[] = {
    {kMakerCustomFunctions, kShort, kPropMakerTag000F}, {kMakerModelId, kLong, kPropMakerTag0010},
    {kMakerTag0012, kShort, kPropMakerTag0012}, {kMakerTag0013, kShort, kPropMakerTag0013},
    {kMakerTag0015, kLong, kPropMakerTag0015}, {kMakerCameraRotation, kLong, kPropCameraRotation},
    {kMakerRelocation, kShort, 0},  // always 1
    {kMakerTag001A, kShort, kPropMakerTag001A}, {kMakerTag001B, kByte, kPropMakerTag001B},
    {kMakerTag001D, kShort, kPropMakerTag001D}, {kMakerTag0023, kLong, kPropMakerTag0023},
    {kMakerTag0080, kLong, kPropMakerTag0080}, {kMakerTag0081, kLong, kPropMakerTag0081},
    {kMakerTag0090, kShort, kPropMakerTag0090}, {kMakerTag0091, kShort, kPropMakerTag0091},
    {kMakerTag0092, kShort, kPropMakerTag0092}, {kMakerTag0093, kShort, kPropMakerTag0093},
    {kMakerTag0094, kUndefined, kPropMakerTag0094}, {kMakerTag00A0, kShort, kPropMakerTag00A0},
    {kMakerTag00A1, kShort, kPropMakerTag00A1}, {kMakerTag00A2, kShort, kPropMakerTag00A2},
    {kMakerTag00A3, kShort, kPropMakerTag00A3}, {kMakerTag00A4, kShort, kPropMakerTag00A4},
    {kMakerTag00B0, kShort, kPropMakerTag00B0}, {kMakerTag00B1, kShort, kPropMakerTag00B1},
    {kMakerTag00B2, kShort, kPropMakerTag00B2}, {kMakerTag00B3, kShort, kPropMakerTag00B3},
    {kMakerTag00AE, kShort, kPropMakerTag00AE}, {kMakerColourMode, kShort, kPropColourMode},
    {kMakerTag00B5, kShort, kPropMakerTag00B5},
};
constexpr size_t kMakerTailCount = sizeof kMakerTail / sizeof kMakerTail[0];

// Records that feed a pass-through tag under another code as well.
uint16_t CanonicalCode(uint16_t code) {
  if (code == kPropMakerTag000FAlt) return kPropMakerTag000F;
  if (code == kPropMakerTag0090Alt) return kPropMakerTag0090;
  return code;
}

int MakerTailIndex(uint16_t code) {
  code = CanonicalCode(code);
  for (size_t i = 0; i < kMakerTailCount; ++i) {
    if (kMakerTail[i].code == code && code != 0) return static_cast<int>(i);
  }
  return -1;
}

// Exif IFD tags whose value is a record's payload.
struct ExifPassThrough {
  uint16_t code;
  uint16_t tag;
  uint16_t type;
};
constexpr ExifPassThrough kExifPassThrough[] = {
    {kPropFileSource, kTagFileSource, kUndefined},
    {kPropCustomRendered, kTagCustomRendered, kShort},
    {kPropExposureMode, kTagExposureMode, kShort},
    {kPropWhiteBalance, kTagWhiteBalance, kShort},
    {kPropDigitalZoomRatio, kTagDigitalZoomRatio, kRational},
    {kPropSceneCaptureType, kTagSceneCaptureType, kShort},
};
constexpr size_t kExifPassThroughCount = sizeof kExifPassThrough / sizeof kExifPassThrough[0];

// Everything that goes into the block, with its defaults.
struct Draft {
  // IFD0
  Field make;
  char model[kTextField] = {};
  uint16_t orientation = 1;
  uint32_t xResolution[2] = {180, 1};
  uint32_t yResolution[2] = {180, 1};
  uint16_t resolutionUnit = 2;
  char dateTime[kDateField] = {};
  uint32_t whitePoint[4] = {313, 1000, 329, 1000};
  uint32_t primaries[12] = {64, 100, 33, 100, 21, 100, 71, 100, 15, 100, 6, 100};
  uint32_t coefficients[6] = {299, 1000, 587, 1000, 114, 1000};
  bool whitePointPresent = false, primariesPresent = false, coefficientsPresent = false;
  uint16_t ycbcrPositioning = 1;
  // Exif IFD
  uint32_t exposureTime[2] = {}, fNumber[2] = {}, aperture[2] = {};
  int32_t shutterSpeed[2] = {}, exposureBias[2] = {0, 3};
  bool exposureTimePresent = false, fNumberPresent = false, aperturePresent = false;
  bool shutterSpeedPresent = false, exposureBiasPresent = false;
  uint16_t iso = 0;
  bool isoPresent = false;
  char version[4] = {'0', '0', '0', '0'};
  uint8_t components[4] = {1, 2, 3, 0};
  uint16_t flash = 0;
  bool flashPresent = false;
  uint32_t focalLength[2] = {}, focalPlaneX[2] = {}, focalPlaneY[2] = {};
  uint16_t focalPlaneUnit = 0;
  bool focalPresent = false;
  BlockOwner userComment;
  char flashpixVersion[4] = {'0', '1', '0', '0'};
  uint16_t colorSpace = kColorSpaceSrgb;
  bool colorSpaceSupplied = false;
  uint16_t width = 0, height = 0;
  uint32_t gamma[2] = {22, 10};
  bool gammaPresent = false;
  Field exifPassThrough[kExifPassThroughCount];
  // interoperability IFD
  char interopIndex[4] = {'R', '9', '8', 0};
  char interopVersion[4] = {'0', '1', '0', '0'};
  // maker note
  uint16_t cameraSettings[kCameraSettingsCount];
  uint16_t shotInfo[kShotInfoCount];
  bool cameraSettingsPresent = false, shotInfoPresent = false;
  uint16_t tag0002[4] = {}, tag0003[4] = {};
  bool tag0002Present = false, tag0003Present = false;
  Field tag0005;
  char imageType[kTextField] = {};
  char firmware[kTextField] = {};
  uint32_t fileNumber = 0;
  char owner[kTextField] = {};
  Field tag000C;
  Field makerTail[kMakerTailCount];
  uint16_t relocation = 1;
  bool focalScaling = false;
  bool colourModeSeen = false;
  uint16_t colourMode = 0;
  // IFD1
  Field thumbnail;
  uint32_t thumbXResolution[2] = {}, thumbYResolution[2] = {};
  uint16_t thumbResolutionUnit = 0;
  uint16_t compression = 6;

  Draft() {
    DefaultCameraSettings(cameraSettings);
    DefaultShotInfo(shotInfo);
    make.Set(camera::kMakerName, sizeof camera::kMakerName);
    makerTail[MakerTailIndexOfRelocation()].Set(&relocation, 2);
  }
  static size_t MakerTailIndexOfRelocation() {
    for (size_t i = 0; i < kMakerTailCount; ++i) {
      if (kMakerTail[i].tag == kMakerRelocation) return i;
    }
    return 0;
  }

  void SetCS(uint32_t i, uint16_t v) {
    cameraSettings[i] = v;
    cameraSettingsPresent = true;
  }
  void SetSI(uint32_t i, uint16_t v) {
    shotInfo[i] = v;
    shotInfoPresent = true;
  }
};

void CopyText(char* to, const char* from, uint32_t field) {
  std::memset(to, 0, field);
  for (uint32_t i = 0; i + 1 < field && from[i] != '\0'; ++i) to[i] = from[i];
}

void ApplyImage(Draft& d, const ExifImageInfo* image) {
  if (image == nullptr || image->valid == 0) return;
  CopyText(d.model, image->model, kTextField);
  d.xResolution[0] = image->xResolution;
  d.yResolution[0] = image->yResolution;
  d.width = image->width;
  d.height = image->height;
}

void ApplyCapture(Draft& d, const ExifCaptureInfo* capture) {
  if (capture == nullptr) return;
  const time_t t = capture->time;
  struct tm local {};
  const bool converted = LocalFields(t, &local);
  if (converted && std::strftime(d.dateTime, sizeof d.dateTime, "%Y:%m:%d %H:%M:%S", &local) == 0) {
    std::memset(d.dateTime, 0, sizeof d.dateTime);
  }
  d.fileNumber = capture->fileNumber;
  CopyText(d.owner, capture->owner, kTextField);
  CopyText(d.imageType, capture->imageType, kTextField);
}

void ApplyWords(Draft& d, const ArrayWord* words, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) {
    if (words[i].shotInfo) d.SetSI(words[i].index, words[i].value);
    if (!words[i].shotInfo) d.SetCS(words[i].index, words[i].value);
  }
}

void ApplyShot(Draft& d, const ExifShotValues* shot) {
  if (shot == nullptr) return;
  ShotConversion c;
  ConvertShot(*shot, &c);
  if (c.hasShutter) std::memcpy(d.shutterSpeed, c.shutter, sizeof c.shutter), d.shutterSpeedPresent = true;
  if (c.hasAperture) std::memcpy(d.aperture, c.aperture, sizeof c.aperture), d.aperturePresent = true;
  if (c.hasBias) std::memcpy(d.exposureBias, c.bias, sizeof c.bias), d.exposureBiasPresent = true;
  ApplyWords(d, c.words, c.wordCount);
  if (shot->settingFlag != 0xFF) d.cameraSettingsPresent = true;
}

// A user comment block: max(n + 8 rounded up to even, 264) zeroed bytes.
Status MakeComment(Draft& d, const char* code, const uint8_t* text, uint32_t n) {
  uint64_t size = (uint64_t{n} + kCommentTextAt + 1) & ~uint64_t{1};
  if (size < kMinUserComment) size = kMinUserComment;
  if (size > UINT32_MAX) return ST_BAD_ARGUMENT;
  BlockOwner block(BlockAllocZeroed(static_cast<uint32_t>(size)));
  if (!block) return ST_NO_MEMORY;
  if (code != nullptr) {
    for (uint32_t i = 0; i < kCommentTextAt && code[i] != '\0'; ++i) block.get()[i] = static_cast<uint8_t>(code[i]);
  }
  if (n != 0) std::memcpy(block.get() + kCommentTextAt, text, n);
  d.userComment = std::move(block);
  return ST_OK;
}

void ReadRationals(const Payload& p, uint32_t* to, uint32_t words) {
  for (uint32_t i = 0; i < words; ++i) to[i] = p.U32At(4 * i);
}

// Records of unsigned rationals copied whole into their field.
struct RationalRecord {
  uint16_t code;
  uint32_t words;
  uint32_t* (*field)(Draft&);
  bool Draft::*present;
};
constexpr RationalRecord kRationalRecords[] = {
    {kPropExposureTime, 2, [](Draft& d) { return d.exposureTime; }, &Draft::exposureTimePresent},
    {kPropFNumber, 2, [](Draft& d) { return d.fNumber; }, &Draft::fNumberPresent},
    {kPropAperture, 2, [](Draft& d) { return d.aperture; }, &Draft::aperturePresent},
    {kPropWhitePoint, 4, [](Draft& d) { return d.whitePoint; }, &Draft::whitePointPresent},
    {kPropPrimaries, 12, [](Draft& d) { return d.primaries; }, &Draft::primariesPresent},
    {kPropYCbCrCoefficients, 6, [](Draft& d) { return d.coefficients; }, &Draft::coefficientsPresent},
    {kPropGamma, 2, [](Draft& d) { return d.gamma; }, &Draft::gammaPresent},
};

Status ApplyCodedComment(Draft& d, const Payload& p) {
  if (!p.Has(12)) return ST_OK;
  char characterCode[kCommentTextAt + 1] = {};
  std::memcpy(characterCode, p.data(), kCommentTextAt);
  const uint32_t n = p.U32At(8);
  if (n > p.size() - 12) return ST_OK;
  return MakeComment(d, characterCode, p.data() + 12, n);
}

void ReadSignedPair(const Payload& p, int32_t* to, bool* present) {
  if (!p.Has(8)) return;
  to[0] = static_cast<int32_t>(p.U32At(0));
  to[1] = static_cast<int32_t>(p.U32At(4));
  *present = true;
}

// The Exif-side records with rules of their own; false for any other code.
bool ApplyExifRecord(Draft& d, uint16_t code, const Payload& p) {
  switch (code) {
    case kPropThumbnail:
      d.thumbnail.Set(p.data(), p.size());
      std::memcpy(d.thumbXResolution, d.xResolution, sizeof d.xResolution);
      std::memcpy(d.thumbYResolution, d.yResolution, sizeof d.yResolution);
      d.thumbResolutionUnit = d.resolutionUnit;
      return true;
    case kPropOrientation: (void)OrientationOf(p, &d.orientation); return true;
    case kPropFocalPlane:
      if (!p.Has(26)) return true;
      d.focalLength[0] = p.U32At(0), d.focalLength[1] = p.U32At(4);
      d.focalPlaneX[0] = p.U32At(8), d.focalPlaneX[1] = p.U32At(12);
      d.focalPlaneY[0] = p.U32At(16), d.focalPlaneY[1] = p.U32At(20);
      d.focalPlaneUnit = p.U16(12);
      d.focalPresent = true;
      return true;
    case kPropIsoSpeed:
      if (!p.Has(2)) return true;
      d.iso = p.U16(0);
      d.isoPresent = true;
      return true;
    case kPropShutterSpeed: ReadSignedPair(p, d.shutterSpeed, &d.shutterSpeedPresent); return true;
    case kPropExposureBias: ReadSignedPair(p, d.exposureBias, &d.exposureBiasPresent); return true;
    case kPropFlash:
      if (p.Has(2)) d.flash = p.U16(0), d.flashPresent = true;
      return true;
    case kPropExifVersion:
      std::memset(d.version, 0, sizeof d.version);
      std::memcpy(d.version, p.data(), p.size() < 4 ? p.size() : 4);
      return true;
    case kPropColorSpace:
      if (p.Has(2)) d.colorSpace = p.U16(0), d.colorSpaceSupplied = true;
      return true;
    case kPropMake:
      if (p.Has(4) && p.U32At(0) <= p.size() - 4) d.make.Set(p.data() + 4, p.U32At(0));
      return true;
    default: return false;
  }
}

// The maker-note records with rules of their own; false for any other code.
bool ApplyMakerRecord(Draft& d, uint16_t code, const Payload& p) {
  switch (code) {
    case kPropMakerTag0005:
      if (p.Has(12)) d.tag0005.Set(p.data(), 12);
      return true;
    case kPropMakerTag0002:
      if (!p.Has(8)) return true;
      for (uint32_t i = 0; i < 4; ++i) d.tag0002[i] = p.U16(i);
      d.tag0002Present = true;
      return true;
    case kPropMakerTag0003:
      if (!p.Has(4)) return true;
      d.tag0003[0] = 0, d.tag0003[1] = 0;
      d.tag0003[2] = static_cast<uint16_t>(p.U32At(0)), d.tag0003[3] = static_cast<uint16_t>(p.U32At(0) >> 16);
      d.tag0003Present = true;
      return true;
    case kPropMakerTag000C:
      if (p.Has(4)) d.tag000C.Set(p.data(), 4);
      return true;
    case kPropCameraSettingsRun:
      if (p.Has(16) && p.U16(0) >= 16 && d.shotInfo[2] == 0 && p.U16(7) != 0x7FFF) {
        d.SetSI(2, SpeedCodeFromSetting(p.U16(7)));
      }
      return true;
    case kPropShotInfoEv: {
      if (!p.Has(6)) return true;
      const double f = p.F32At(2);
      if (d.exposureBiasPresent) {  // wraps like the 32-bit field it is
        d.exposureBias[0] = static_cast<int32_t>(static_cast<uint32_t>(d.exposureBias[0]) +
                                                 static_cast<uint32_t>(RoundHalfAway(f * 6)));
      }
      return true;
    }
    default: return false;
  }
}

// The records the tables above describe, and the pass-through tags.
void ApplyTableRecord(Draft& d, uint16_t code, const Payload& p) {
  if (code == kPropFocalUnits && p.Has(6)) d.focalScaling = p.U16(2) != 32;
  for (const RationalRecord& r : kRationalRecords) {
    if (r.code != code) continue;
    if (p.Has(4 * r.words)) ReadRationals(p, r.field(d), r.words), d.*r.present = true;
    return;
  }
  for (size_t i = 0; i < kExifPassThroughCount; ++i) {
    if (kExifPassThrough[i].code != code) continue;
    // FileSource counts one byte less than its record.
    const uint32_t size = code == kPropFileSource ? (p.size() == 0 ? 0 : p.size() - 1) : p.size();
    d.exifPassThrough[i].Set(p.data(), size);
    return;
  }
  const int tail = MakerTailIndex(code);
  if (tail < 0) return;
  d.makerTail[tail].Set(p.data(), p.size());
  if (code == kPropColourMode && p.Has(2)) {
    d.colourModeSeen = true;
    d.colourMode = p.U16(0);
  }
}

// One property record. Records too short for their code change nothing.
Status ApplyRecord(Draft& d, const PropertyRecord* r) {
  const Payload p(r);
  if (r->code == kPropUserComment) return MakeComment(d, nullptr, p.data(), p.size());
  if (r->code == kPropCodedUserComment) return ApplyCodedComment(d, p);
  ArrayWord words[kMaxArrayWords];
  ApplyWords(d, words, RecordArrayWords(r->code, p, words));
  if (!ApplyExifRecord(d, r->code, p) && !ApplyMakerRecord(d, r->code, p)) ApplyTableRecord(d, r->code, p);
  return ST_OK;
}

bool VersionIs(const Draft& d, const char* v) { return std::memcmp(d.version, v, 4) == 0; }

// Values that follow from the others once every record is in.
Status Derive(Draft& d, const BufferMode& mode) {
  if (d.focalScaling && d.tag0002Present) {
    d.tag0002[1] = static_cast<uint16_t>(
        static_cast<int32_t>(d.tag0002[1] * static_cast<double>(d.cameraSettings[25]) * 0.03125 + 0.5));
  }
  if (!d.userComment) {
    const Status st = MakeComment(d, nullptr, nullptr, 0);
    if (st != ST_OK) return st;
  }
  if (d.tag0002Present && !d.focalPresent) {
    const auto width = static_cast<int16_t>(d.width);
    const auto height = static_cast<int16_t>(d.height);
    d.focalLength[0] = d.tag0002[1], d.focalLength[1] = d.cameraSettings[25];
    d.focalPlaneX[0] = static_cast<uint32_t>(width * 1024), d.focalPlaneX[1] = d.tag0002[2];
    d.focalPlaneY[0] = static_cast<uint32_t>(height * 1024), d.focalPlaneY[1] = d.tag0002[3];
    d.focalPlaneUnit = 2;
    d.focalPresent = true;
  }

  const bool wide = static_cast<int16_t>(d.width) > static_cast<int16_t>(d.height);
  if (!VersionIs(d, "0200") && !VersionIs(d, "0210")) {
    std::memcpy(d.version, "0220", 4);
  } else {
    std::memcpy(d.version, !mode.basic || wide ? "0210" : "0200", 4);
  }
  if (mode.basic) d.cameraSettingsPresent = d.shotInfoPresent = false;
  const bool arx = camera::IsArx(d.model);
  if (d.colourModeSeen) {
    if (arx) {
      if (!d.colorSpaceSupplied && d.colourMode != 1) d.colorSpace = kColorSpaceUncalibrated;
    } else {
      std::memcpy(d.version, "0221", 4);
      const bool wideGamut = d.colourMode == 2;
      if (d.colourMode == 1 || wideGamut) {
        d.colorSpace = wideGamut ? kColorSpaceUncalibrated : kColorSpaceSrgb;
        d.whitePointPresent = d.primariesPresent = d.coefficientsPresent = d.gammaPresent = wideGamut;
      }
    }
  }
  if (!arx && !VersionIs(d, "0200") && !VersionIs(d, "0210") && !VersionIs(d, "0220") &&
      d.colorSpace == kColorSpaceUncalibrated) {
    std::memcpy(d.interopIndex, "R03", 4);
  }
  return ST_OK;
}

bool WritesInterop(const Draft& d, const BufferMode& mode) {
  const bool r03 = std::memcmp(d.interopIndex, "R03", 4) == 0;
  const bool uncalibratedR03 = d.colorSpace == kColorSpaceUncalibrated && r03;
  const bool wide = static_cast<int16_t>(d.width) > static_cast<int16_t>(d.height);
  if (mode.basic && !wide) return uncalibratedR03;
  return d.colorSpace == kColorSpaceSrgb || uncalibratedR03;
}

// The IFD query list handed to the block builder.
class QueryList {
 public:
  void Value(uint16_t tag, uint16_t type, const void* data, uint32_t size) {
    Add({IFDQ_READ, tag, type, 0, reinterpret_cast<uintptr_t>(data), size, 0});
  }
  void Value(uint16_t tag, uint16_t type, const Field& f) {
    if (f.present) Value(tag, type, f.data, f.size);
  }
  void Enter(uint16_t tag, uint16_t type, uint32_t count) { Add({IFDQ_ENTER, tag, type, 0, 0, count, 0}); }
  void Leave(const void* trailer = nullptr, uint32_t size = 0) {
    Add({IFDQ_LEAVE, 0, 0, 0, reinterpret_cast<uintptr_t>(trailer), size, 0});
  }
  // Returns where the request stands; the builder leaves the offset there.
  size_t Reserve(uint16_t tag, uint16_t type, uint32_t count, uint32_t bytes) {
    Add({IFDQ_LOCATE, tag, type, 0, bytes, count, 0});
    return count_ - 1;
  }
  void NextIfd() { Add({IFDQ_NEXT_IFD, 0, 0, 0, 0, 0, 0}); }
  void End() { Add({IFDQ_END, 0, 0, 0, 0, 0, 0}); }

  IfdQuery* list() { return overflow_ ? nullptr : items_; }
  const IfdQuery& at(size_t i) const { return items_[i]; }

 private:
  void Add(const IfdQuery& q) {
    if (count_ == kCapacity) {
      overflow_ = true;
      return;
    }
    items_[count_++] = q;
  }

  static constexpr size_t kCapacity = 128;
  IfdQuery items_[kCapacity] = {};
  size_t count_ = 0;
  bool overflow_ = false;
};

void ListMakerNote(QueryList& q, const Draft& d, const BufferMode& mode, const uint8_t* footer) {
  q.Enter(kTagMakerNote, kUndefined, 0);  // its count becomes its byte size
  if (d.cameraSettingsPresent) q.Value(kMakerCameraSettings, kShort, d.cameraSettings, sizeof d.cameraSettings);
  if (d.tag0002Present) q.Value(kMakerFocalInfo, kShort, d.tag0002, sizeof d.tag0002);
  if (d.tag0003Present) q.Value(kMakerTag0003, kShort, d.tag0003, sizeof d.tag0003);
  if (d.shotInfoPresent) q.Value(kMakerShotInfo, kShort, d.shotInfo, sizeof d.shotInfo);
  q.Value(kMakerTag0005, kShort, d.tag0005);
  q.Value(kMakerImageType, kAscii, d.imageType, kTextField);
  q.Value(kMakerFirmware, kAscii, d.firmware, kTextField);
  q.Value(kMakerFileNumber, kLong, &d.fileNumber, 4);
  q.Value(kMakerOwnerName, kAscii, d.owner, kTextField);
  q.Value(kMakerSerialNumber, kLong, d.tag000C);
  for (size_t i = 0; i < kMakerTailCount; ++i) q.Value(kMakerTail[i].tag, kMakerTail[i].type, d.makerTail[i]);
  if (mode.makerNoteFooter) {
    q.Leave(footer, 8);
  } else {
    q.Leave();
  }
}

void ListExifIfd(QueryList& q, const Draft& d, const BufferMode& mode, const uint8_t* footer) {
  q.Enter(kTagExifIfd, kLong, 1);
  if (d.exposureTimePresent) q.Value(kTagExposureTime, kRational, d.exposureTime, 8);
  if (d.fNumberPresent) q.Value(kTagFNumber, kRational, d.fNumber, 8);
  if (d.isoPresent) q.Value(kTagIsoSpeedRatings, kShort, &d.iso, 2);
  q.Value(kTagExifVersion, kUndefined, d.version, 4);
  q.Value(kTagDateTimeOriginal, kAscii, d.dateTime, kDateField);
  q.Value(kTagDateTimeDigitized, kAscii, d.dateTime, kDateField);
  q.Value(kTagComponentsConfiguration, kUndefined, d.components, 4);
  if (d.shutterSpeedPresent) q.Value(kTagShutterSpeedValue, kSRational, d.shutterSpeed, 8);
  if (d.aperturePresent) q.Value(kTagApertureValue, kRational, d.aperture, 8);
  if (d.exposureBiasPresent) q.Value(kTagExposureBiasValue, kSRational, d.exposureBias, 8);
  if (d.flashPresent) q.Value(kTagFlash, kShort, &d.flash, 2);
  if (d.focalPresent) q.Value(kTagFocalLength, kRational, d.focalLength, 8);
  ListMakerNote(q, d, mode, footer);
  q.Value(kTagUserComment, kUndefined, d.userComment.get(), BlockLength(d.userComment.get()));
  q.Value(kTagFlashpixVersion, kUndefined, d.flashpixVersion, 4);
  q.Value(kTagColorSpace, kShort, &d.colorSpace, 2);
  q.Value(kTagPixelXDimension, kShort, &d.width, 2);
  q.Value(kTagPixelYDimension, kShort, &d.height, 2);
  if (WritesInterop(d, mode)) {
    q.Enter(kTagInteropIfd, kLong, 1);
    q.Value(kTagInteropIndex, kAscii, d.interopIndex, 4);
    q.Value(kTagInteropVersion, kUndefined, d.interopVersion, 4);
    q.Value(kTagRelatedImageWidth, kShort, &d.width, 2);
    q.Value(kTagRelatedImageLength, kShort, &d.height, 2);
    q.Leave();
  }
  if (d.focalPresent) {
    q.Value(kTagFocalPlaneXResolution, kRational, d.focalPlaneX, 8);
    q.Value(kTagFocalPlaneYResolution, kRational, d.focalPlaneY, 8);
    q.Value(kTagFocalPlaneResolutionUnit, kShort, &d.focalPlaneUnit, 2);
  }
  for (size_t i = 0; i < kExifPassThroughCount; ++i) {
    q.Value(kExifPassThrough[i].tag, kExifPassThrough[i].type, d.exifPassThrough[i]);
  }
  if (d.gammaPresent) q.Value(kTagGamma, kRational, d.gamma, 8);
  q.Leave();
}

// Returns the index of the thumbnail's reserved area, or 0 without one.
size_t ListIfds(QueryList& q, const Draft& d, const BufferMode& mode, const uint8_t* footer) {
  size_t thumbnail = 0;
  q.Value(kTagMake, kAscii, d.make);
  q.Value(kTagModel, kAscii, d.model, kTextField);
  q.Value(kTagOrientation, kShort, &d.orientation, 2);
  q.Value(kTagXResolution, kRational, d.xResolution, 8);
  q.Value(kTagYResolution, kRational, d.yResolution, 8);
  q.Value(kTagResolutionUnit, kShort, &d.resolutionUnit, 2);
  q.Value(kTagDateTime, kAscii, d.dateTime, kDateField);
  if (d.whitePointPresent) q.Value(kTagWhitePoint, kRational, d.whitePoint, sizeof d.whitePoint);
  if (d.primariesPresent) q.Value(kTagPrimaryChromaticities, kRational, d.primaries, sizeof d.primaries);
  if (d.coefficientsPresent) q.Value(kTagYCbCrCoefficients, kRational, d.coefficients, sizeof d.coefficients);
  q.Value(kTagYCbCrPositioning, kShort, &d.ycbcrPositioning, 2);
  ListExifIfd(q, d, mode, footer);
  if (d.thumbnail.present) {
    q.NextIfd();
    q.Value(kTagCompression, kShort, &d.compression, 2);
    q.Value(kTagXResolution, kRational, d.thumbXResolution, 8);
    q.Value(kTagYResolution, kRational, d.thumbYResolution, 8);
    q.Value(kTagResolutionUnit, kShort, &d.thumbResolutionUnit, 2);
    thumbnail = q.Reserve(kTagJpegOffset, kLong, 1, d.thumbnail.size);
    q.Value(kTagJpegLength, kLong, &d.thumbnail.size, 4);
  }
  q.End();
  return thumbnail;
}

}  // namespace

uint16_t MakerPassThroughTag(uint16_t code) {
  const int i = MakerTailIndex(code);
  return i < 0 ? 0 : kMakerTail[i].tag;
}

uint16_t ExifPassThroughTag(uint16_t code) {
  for (const ExifPassThrough& e : kExifPassThrough) {
    if (e.code == code) return e.tag;
  }
  return 0;
}

Status BuildExifBuffer(const ExifImageInfo* image, const ExifCaptureInfo* capture,
                       const ExifShotValues* shot, PropertyRecord* const* records,
                       const BufferMode& mode, TiffBlockInfo* out) {
  if (out == nullptr) return ST_BAD_ARGUMENT;
  std::memset(out, 0, sizeof *out);
  Draft d;
  if (!mode.basic) CopyText(d.firmware, kFirmware, kTextField);
  ApplyImage(d, image);
  ApplyCapture(d, capture);
  ApplyShot(d, shot);
  for (PropertyRecord* const* r = records; r != nullptr && *r != nullptr; ++r) {
    const uint16_t code = (*r)->code;
    if (code == 0 || code > kPropLast) continue;
    const Status st = ApplyRecord(d, *r);
    if (st != ST_OK) return st;
  }
  Status st = Derive(d, mode);
  if (st != ST_OK) return st;

  // "II", 42 read little-endian, and the offset the builder fills in.
  const uint8_t footer[8] = {'I', 'I', 0x2A, 0x00, 0, 0, 0, 0};
  QueryList q;
  const size_t thumbnail = ListIfds(q, d, mode, footer);
  if (q.list() == nullptr) return ST_BAD_ARGUMENT;
  st = BuildExifBlock(q.list(), out, mode.lossless ? kSignatureLoLe : kSignatureExif,
                      mode.bigEndian ? kBigEndian : kLittleEndian);
  if (st != ST_OK || !d.thumbnail.present || d.thumbnail.size == 0) return st;
  // The builder reserved the room and left its offset in the request.
  std::memcpy(out->tiff + q.at(thumbnail).data, d.thumbnail.data, d.thumbnail.size);
  return ST_OK;
}

}  // namespace qd::exif

namespace {

uint32_t CreateBuffer(const ExifImageInfo* image, const ExifCaptureInfo* capture,
                      const ExifShotValues* shot, PropertyRecord** records, TiffBlockInfo* out,
                      const qd::exif::BufferMode& mode) {
  return qd::ToResultCode(qd::exif::BuildExifBuffer(image, capture, shot, records, mode, out));
}

}  // namespace

extern "C" QD_EXPORT uint32_t QD_API qdParseCreateExifPropBuffer(const ExifImageInfo* imageInfo,
                                                               const ExifCaptureInfo* captureInfo,
                                                               const ExifShotValues* shotValues,
                                                               PropertyRecord** records,
                                                               TiffBlockInfo* out) {
  return CreateBuffer(imageInfo, captureInfo, shotValues, records, out, {true, false, false, true});
}

extern "C" QD_EXPORT uint32_t QD_API qdParseCreateExifPropBufferEx(const ExifImageInfo* imageInfo,
                                                                 const ExifCaptureInfo* captureInfo,
                                                                 const ExifShotValues* shotValues,
                                                                 PropertyRecord** records,
                                                                 TiffBlockInfo* out) {
  return CreateBuffer(imageInfo, captureInfo, shotValues, records, out, {false, false, false, true});
}

extern "C" QD_EXPORT uint32_t QD_API qdParseCreateLossLessPropBuffer(const ExifImageInfo* imageInfo,
                                                                   const ExifCaptureInfo* captureInfo,
                                                                   const ExifShotValues* shotValues,
                                                                   PropertyRecord** records,
                                                                   TiffBlockInfo* out) {
  return CreateBuffer(imageInfo, captureInfo, shotValues, records, out, {false, true, false, true});
}
