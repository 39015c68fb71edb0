#include "replace/exif_rewrite.h"

#include <cstring>
#include <initializer_list>

#include "exifwrite/camera_models.h"
#include "exifwrite/exif_buffer.h"
#include "exifwrite/property_payload.h"
#include "exifwrite/record_values.h"
#include "format/exif_tags.h"
#include "format/property_codes.h"
#include "format/tiff_format.h"
#include "frame/buffered_reader.h"
#include "frame/memory_block.h"
#include "replace/rewrite_values.h"
#include "tiffjpeg/exif_query.h"

namespace qd::replace {
namespace {

using namespace qd::tiff;

// The values of the main IFDs that a rewrite may change, in walk order.
enum Slot : int8_t {
  kNoSlot = -1, kMake, kModel, kOrientation, kXResolution, kYResolution, kDateTime, kWhitePoint,
  kPrimaries, kCoefficients, kExposureTime, kFNumber, kIso, kDateOriginal, kDateDigitized,
  kShutterSpeed, kAperture, kExposureBias, kFlash, kUserComment, kPixelXShort, kPixelYShort,
  kPixelXLong, kPixelYLong, kFocalLength, kFocalPlaneX, kFocalPlaneY, kFocalPlaneUnit, kFileSource,
  kExifVersion, kCustomRendered, kExposureMode, kWhiteBalance, kDigitalZoom, kSceneCapture,
  kColorSpace, kGamma, kMakerNote, kRelatedWidth, kRelatedLength, kThumbXResolution,
  kThumbYResolution, kSlotCount
};

struct Request {
  uint16_t op, tag, type;
  Slot slot;
};

constexpr Request kMainList[] = {
    {IFDQ_READ, kTagMake, kAscii, kMake},
    {IFDQ_READ, kTagModel, kAscii, kModel},
    {IFDQ_READ, kTagOrientation, kShort, kOrientation},
    {IFDQ_READ, kTagXResolution, kRational, kXResolution},
    {IFDQ_READ, kTagYResolution, kRational, kYResolution},
    {IFDQ_READ, kTagDateTime, kAscii, kDateTime},
    {IFDQ_READ, kTagWhitePoint, kRational, kWhitePoint},
    {IFDQ_READ, kTagPrimaryChromaticities, kRational, kPrimaries},
    {IFDQ_READ, kTagYCbCrCoefficients, kRational, kCoefficients},
    {IFDQ_ENTER, kTagExifIfd, 0, kNoSlot},
    {IFDQ_READ, kTagExposureTime, kRational, kExposureTime},
    {IFDQ_READ, kTagFNumber, kRational, kFNumber},
    {IFDQ_READ, kTagIsoSpeedRatings, kShort, kIso},
    {IFDQ_READ, kTagDateTimeOriginal, kAscii, kDateOriginal},
    {IFDQ_READ, kTagDateTimeDigitized, kAscii, kDateDigitized},
    {IFDQ_READ, kTagShutterSpeedValue, kSRational, kShutterSpeed},
    {IFDQ_READ, kTagApertureValue, kRational, kAperture},
    {IFDQ_READ, kTagExposureBiasValue, kSRational, kExposureBias},
    {IFDQ_READ, kTagFlash, kShort, kFlash},
    {IFDQ_READ, kTagUserComment, kUndefined, kUserComment},
    {IFDQ_READ, kTagPixelXDimension, kShort, kPixelXShort},
    {IFDQ_READ, kTagPixelYDimension, kShort, kPixelYShort},
    {IFDQ_READ, kTagPixelXDimension, kLong, kPixelXLong},
    {IFDQ_READ, kTagPixelYDimension, kLong, kPixelYLong},
    {IFDQ_READ, kTagFocalLength, kRational, kFocalLength},
    {IFDQ_READ, kTagFocalPlaneXResolution, kRational, kFocalPlaneX},
    {IFDQ_READ, kTagFocalPlaneYResolution, kRational, kFocalPlaneY},
    {IFDQ_READ, kTagFocalPlaneResolutionUnit, kShort, kFocalPlaneUnit},
    {IFDQ_READ, kTagFileSource, kUndefined, kFileSource},
    {IFDQ_READ, kTagExifVersion, kShort, kExifVersion},  // as the cameras' own rewrite asks for it
    {IFDQ_READ, kTagCustomRendered, kShort, kCustomRendered},
    {IFDQ_READ, kTagExposureMode, kShort, kExposureMode},
    {IFDQ_READ, kTagWhiteBalance, kShort, kWhiteBalance},
    {IFDQ_READ, kTagDigitalZoomRatio, kRational, kDigitalZoom},
    {IFDQ_READ, kTagSceneCaptureType, kShort, kSceneCapture},
    {IFDQ_READ, kTagColorSpace, kShort, kColorSpace},
    {IFDQ_READ, kTagGamma, kRational, kGamma},
    {IFDQ_LOCATE, kTagMakerNote, 0, kMakerNote},
    {IFDQ_ENTER, kTagInteropIfd, 0, kNoSlot},
    {IFDQ_READ, kTagRelatedImageWidth, kShort, kRelatedWidth},
    {IFDQ_READ, kTagRelatedImageLength, kShort, kRelatedLength},
    {IFDQ_LEAVE, 0, 0, kNoSlot},
    {IFDQ_LEAVE, 0, 0, kNoSlot},
    {IFDQ_NEXT_IFD, 0, 0, kNoSlot},
    {IFDQ_READ, kTagXResolution, kRational, kThumbXResolution},
    {IFDQ_READ, kTagYResolution, kRational, kThumbYResolution},
    {IFDQ_END, 0, 0, kNoSlot},
};
constexpr size_t kMainCount = sizeof kMainList / sizeof kMainList[0];

struct MakerRequest {
  uint16_t tag, type;
};
constexpr MakerRequest kMakerList[] = {
    {kMakerCameraSettings, kShort}, {kMakerFocalInfo, kShort}, {kMakerTag0003, kShort},
    {kMakerShotInfo, kShort}, {kMakerTag0005, kShort}, {kMakerImageType, kAscii},
    {kMakerFirmware, kAscii}, {kMakerFileNumber, kLong}, {kMakerOwnerName, kAscii},
    {kMakerSerialNumber, kLong}, {kMakerCustomFunctions, kShort}, {kMakerTag0011, kShort},
    {kMakerModelId, kLong}, {kMakerTag0012, kShort}, {kMakerTag0013, kShort},
    {kMakerTag0015, kLong}, {kMakerCameraRotation, kLong}, {kMakerTag001A, kShort},
    {kMakerTag001B, kByte}, {kMakerTag0023, kLong}, {kMakerTag0080, kLong},
    {kMakerTag0081, kLong}, {kMakerTag0090, kShort}, {kMakerTag0091, kShort},
    {kMakerTag0092, kShort}, {kMakerTag0093, kShort}, {kMakerTag0094, kUndefined},
    {kMakerTag00A0, kShort}, {kMakerTag00A1, kShort}, {kMakerTag00A2, kShort},
    {kMakerTag00A3, kShort}, {kMakerTag00A4, kShort}, {kMakerTag00B0, kShort},
    {kMakerTag00B1, kShort}, {kMakerTag00B2, kShort}, {kMakerTag00B3, kShort},
    {kMakerTag00AE, kShort}, {kMakerColourMode, kShort}, {kMakerTag00B5, kShort},
};
constexpr size_t kMakerCount = sizeof kMakerList / sizeof kMakerList[0];

// Model identifiers whose files keep the thumbnail's resolution, or store
// the rotation in shot-info element 1.
constexpr uint32_t kModelKeepsThumbResolution = 0x01A50000;
constexpr uint32_t kRotationModels[] = {0x01B20000, 0x01C48000};
constexpr uint32_t kCommentTextAt = 8;
constexpr uint32_t kOwnerField = 32;

// A value found in the file: where its bytes are (inside the block, or a
// copy read from the stream) and whether the rewrite changed them.
struct Value {
  uint8_t* bytes = nullptr;
  uint32_t size = 0;
  uint16_t type = 0;
  uint32_t position = 0;  // stream form: from the TIFF header
  bool changed = false;
};

void FillList(IfdQuery (&list)[kMainCount]) {
  for (size_t i = 0; i < kMainCount; ++i) {
    list[i] = IfdQuery{kMainList[i].op, kMainList[i].tag, kMainList[i].type, 0, 0, 0, 0};
  }
}

void FillMakerList(IfdQuery (&list)[kMakerCount + 1]) {
  for (size_t i = 0; i < kMakerCount; ++i) {
    list[i] = IfdQuery{IFDQ_READ, kMakerList[i].tag, kMakerList[i].type, 0, 0, 0, 0};
  }
  list[kMakerCount] = IfdQuery{IFDQ_END, 0, 0, 0, 0, 0, 0};
}

Value FromQuery(const IfdQuery& q) {
  Value v;
  if (q.found == 0 || q.op != IFDQ_READ) return v;
  v.bytes = reinterpret_cast<uint8_t*>(q.data);
  v.size = q.size;
  v.type = q.type;
  v.position = q.position;
  return v;
}

class Rewriter {
 public:
  Rewriter(ByteOrder order, bool exifJpeg) : order_(order), makerOrder_(order), exifJpeg_(exifJpeg) {}

  void TakeMain(const IfdQuery (&list)[kMainCount]) {
    for (size_t i = 0; i < kMainCount; ++i) {
      if (kMainList[i].slot != kNoSlot) main_[kMainList[i].slot] = FromQuery(list[i]);
    }
    const IfdQuery& note = list[MakerNoteIndex()];
    noteFound_ = note.found != 0;
    noteOffset_ = static_cast<uint32_t>(note.data);
    noteSize_ = note.size;
  }

  void TakeMaker(const IfdQuery (&list)[kMakerCount + 1], ByteOrder order) {
    for (size_t i = 0; i < kMakerCount; ++i) maker_[i] = FromQuery(list[i]);
    makerOrder_ = order;
  }

  // The maker note is rewritten only in the camera's own files.
  bool CameraMakerNote() const {
    const Value& make = main_[kMake];
    return noteFound_ && make.bytes != nullptr && make.size >= sizeof camera::kMakerName &&
           std::memcmp(make.bytes, camera::kMakerName, sizeof camera::kMakerName) == 0;
  }
  uint32_t noteOffset() const { return noteOffset_; }
  uint32_t noteSize() const { return noteSize_; }

  void Apply(const Changes& c, bool pixelSize) {
    for (PropertyRecord* const* r = c.records; r != nullptr && *r != nullptr; ++r) ApplyRecord(*r);
    ExifImageInfo image{};
    bool imageValid = c.image != nullptr && c.image->valid != 0;
    if (imageValid) {
      image = *c.image;
    } else if (c.second != nullptr && c.second->format != 0) {
      std::memcpy(&image, c.second, sizeof image);
      imageValid = true;
    }
    if (imageValid) ApplyImage(image, pixelSize);
    if (c.second != nullptr && c.second->format != 0) {
      for (uint32_t i = 0; i < 3; ++i) PutShort(Maker(kMakerTag0011), 2 * (i + 1), c.second->extra[i]);
    }
    if (c.capture != nullptr) ApplyCapture(c.capture);
    if (c.shot != nullptr) ApplyShot(*c.shot);
  }

  // Every value in walk order, main IFDs first.
  template <typename Visit>
  void ForEachValue(Visit&& visit) {
    for (Value& v : main_) visit(v);
    for (Value& v : maker_) visit(v);
  }

 private:
  static size_t MakerNoteIndex() {
    for (size_t i = 0; i < kMainCount; ++i) {
      if (kMainList[i].slot == kMakerNote) return i;
    }
    return 0;
  }

  static Slot SlotOfTag(uint16_t tag) {
    for (const Request& r : kMainList) {
      if (r.op == IFDQ_READ && r.tag == tag) return r.slot;
    }
    return kNoSlot;
  }

  Value* Main(Slot s) { return s == kNoSlot ? nullptr : &main_[s]; }
  Value* Maker(uint16_t tag) {
    for (size_t i = 0; i < kMakerCount; ++i) {
      if (kMakerList[i].tag == tag) return &maker_[i];
    }
    return nullptr;
  }
  ByteOrder OrderOf(const Value* v) const { return v >= maker_ && v < maker_ + kMakerCount ? makerOrder_ : order_; }

  static bool Fits(const Value* v, uint64_t at, uint64_t n) {
    return v != nullptr && v->bytes != nullptr && at + n <= v->size;
  }

  void Store(Value* v, uint32_t at, const uint8_t* le, uint32_t n, uint32_t element) {
    if (!Fits(v, at, n)) return;
    StoreValue(v->bytes + at, le, n, element, OrderOf(v));
    v->changed = true;
  }
  void PutShort(Value* v, uint32_t at, uint16_t x) {
    uint8_t le[2];
    PutLE16(x, le);
    Store(v, at, le, 2, 2);
  }
  void PutLong(Value* v, uint32_t at, uint32_t x) {
    uint8_t le[4];
    PutLE32(x, le);
    Store(v, at, le, 4, 4);
  }
  // Rationals and other 32-bit words, all of them or none.
  void PutWords(Value* v, const uint8_t* le, uint32_t words) { Store(v, 0, le, 4 * words, 4); }
  void PutWords(Value* v, const Payload& p, uint32_t first, uint32_t words) {
    if (p.Has(4 * (uint64_t{first} + words))) PutWords(v, p.data() + 4 * first, words);
  }
  template <typename T>
  void PutPair(Value* v, const T (&pair)[2]) {
    uint8_t le[8];
    PutLE32(static_cast<uint32_t>(pair[0]), le);
    PutLE32(static_cast<uint32_t>(pair[1]), le + 4);
    PutWords(v, le, 2);
  }
  // A payload as it stands, as far as the value reaches, by the value's type.
  void PutAsIs(Value* v, const Payload& p) {
    if (v == nullptr || v->bytes == nullptr) return;
    const uint32_t n = p.size() < v->size ? p.size() : v->size;
    Store(v, 0, p.data(), n, ElementSize(v->type));
  }
  // Text over a cleared value, cut to it, ending in a zero byte.
  void PutText(Value* v, const char* text, uint32_t limit) {
    if (v == nullptr || v->bytes == nullptr || v->size == 0) return;
    std::memset(v->bytes, 0, v->size);
    for (uint32_t i = 0; i < limit && i + 1 < v->size && text[i] != '\0'; ++i) v->bytes[i] = static_cast<uint8_t>(text[i]);
    v->changed = true;
  }
  // Array element `index` when the array's own byte length (element 0) shows it.
  uint32_t ArrayLength(const Value* v) const {
    return Fits(v, 0, 2) ? Get16(v->bytes, OrderOf(v)) : 0;
  }
  void PutElement(Value* v, uint32_t index, uint16_t x) {
    if (ArrayLength(v) >= 2 * (index + 1)) PutShort(v, 2 * index, x);
  }

  void Comment(const uint8_t* code, const uint8_t* text, uint32_t n) {
    Value* v = Main(kUserComment);
    if (v->bytes == nullptr || v->size <= kCommentTextAt || n == 0) return;
    std::memset(v->bytes, 0, v->size);
    if (code != nullptr) std::memcpy(v->bytes, code, kCommentTextAt);
    const uint32_t room = v->size - kCommentTextAt;
    std::memcpy(v->bytes + kCommentTextAt, text, n < room ? n : room);
    v->bytes[v->size - 1] = 0;
    v->changed = true;
  }

  bool RotationModel() {
    const Value* id = Maker(kMakerModelId);
    if (!Fits(id, 0, 4)) return false;
    const uint32_t model = Get32(id->bytes, makerOrder_);
    return model == kRotationModels[0] || model == kRotationModels[1] || (model & 0x80000000u) != 0;
  }

  // The rotation in the shot-info array, for files without the rotation tag.
  void Rotation(const Payload& p) {
    Value* si = Maker(kMakerShotInfo);
    if (!p.Has(4) || si->bytes == nullptr) return;
    const uint32_t angle = p.U32At(0);
    if (angle % 90 != 0 || angle > 270) return;
    const auto code = static_cast<uint16_t>(angle / 90);
    const uint32_t length = ArrayLength(si);
    if (RotationModel() && length >= 4) {
      PutShort(si, 2, code);
    } else if (length >= 26 && Fits(si, 24, 2)) {
      PutShort(si, 24, static_cast<uint16_t>((Get16(si->bytes + 24, makerOrder_) & 0x00FF) | (code << 8)));
    }
  }

  void ApplyRecord(const PropertyRecord* r) {
    const Payload p(r);
    ArrayWord words[kMaxArrayWords];
    const uint32_t n = RecordArrayWords(r->code, p, words);
    for (uint32_t i = 0; i < n; ++i) {
      PutElement(Maker(words[i].shotInfo ? kMakerShotInfo : kMakerCameraSettings), words[i].index, words[i].value);
    }
    Value* info = Maker(kMakerTag0011);
    uint16_t orientation = 0;
    switch (r->code) {
      case kPropUserComment: Comment(nullptr, p.data(), p.size()); break;
      case kPropCodedUserComment:
        if (p.Has(12) && p.U32At(8) <= p.size() - 12) Comment(p.data(), p.data() + 12, p.U32At(8));
        break;
      case kPropOrientation:
        if (OrientationOf(p, &orientation)) PutShort(Main(kOrientation), 0, orientation);
        break;
      case kPropFocalPlane:
        if (!p.Has(26)) break;
        PutWords(Main(kFocalLength), p, 0, 2);
        PutWords(Main(kFocalPlaneX), p, 2, 2);
        PutWords(Main(kFocalPlaneY), p, 4, 2);
        PutShort(Main(kFocalPlaneUnit), 0, p.U16(12));
        break;
      case kPropIsoSpeed:
        if (p.Has(2)) PutShort(Main(kIso), 0, p.U16(0));
        break;
      case kPropFlash:
        if (p.Has(2)) PutShort(Main(kFlash), 0, p.U16(0));
        break;
      case kPropColorSpace:
        if (p.Has(2)) PutShort(Main(kColorSpace), 0, p.U16(0));
        break;
      case kPropExposureTime: PutWords(Main(kExposureTime), p, 0, 2); break;
      case kPropFNumber: PutWords(Main(kFNumber), p, 0, 2); break;
      case kPropShutterSpeed: PutWords(Main(kShutterSpeed), p, 0, 2); break;
      case kPropAperture: PutWords(Main(kAperture), p, 0, 2); break;
      case kPropExposureBias: PutWords(Main(kExposureBias), p, 0, 2); break;
      case kPropWhitePoint: PutWords(Main(kWhitePoint), p, 0, 4); break;
      case kPropPrimaries: PutWords(Main(kPrimaries), p, 0, 12); break;
      case kPropYCbCrCoefficients: PutWords(Main(kCoefficients), p, 0, 6); break;
      case kPropGamma: PutWords(Main(kGamma), p, 0, 2); break;
      case kPropExifVersion: PutAsIs(Main(kExifVersion), p); break;
      case kPropMakerTag0005: PutAsIs(Maker(kMakerTag0005), p); break;
      case kPropMakerTag0002: PutAsIs(Maker(kMakerFocalInfo), p); break;
      case kPropMakerTag000C:
        if (p.Has(4)) PutLong(Maker(kMakerSerialNumber), 0, p.U32At(0));
        break;
      case kPropMakerTag0003:
        if (p.Has(4)) PutLong(Maker(kMakerTag0003), 4, p.U32At(0));
        break;
      case kPropInfoWord:
        if (p.Has(4) && ArrayLength(info) >= 12) PutLong(info, 8, p.U32At(0));
        break;
      case kPropInfoPair:
        if (p.Has(6) && ArrayLength(info) >= 16) {
          PutShort(info, 12, p.U16(0));
          PutShort(info, 14, p.U16(2));
        }
        break;
      case kPropCameraRotation:
        if (Maker(kMakerCameraRotation)->bytes != nullptr) {
          PutAsIs(Maker(kMakerCameraRotation), p);
        } else {
          Rotation(p);
        }
        break;
      case kPropThumbnail: case kPropMake: case kPropMakerTag001D: break;
      default:
        if (const uint16_t tag = exif::ExifPassThroughTag(r->code)) PutAsIs(Main(SlotOfTag(tag)), p);
        if (const uint16_t tag = exif::MakerPassThroughTag(r->code)) PutAsIs(Maker(tag), p);
        break;
    }
  }

  void ApplyImage(const ExifImageInfo& image, bool pixelSize) {
    PutText(Main(kModel), image.model, sizeof image.model);
    PutShort(Main(kRelatedWidth), 0, image.width);
    PutShort(Main(kRelatedLength), 0, image.height);
    const uint32_t x[2] = {image.xResolution, 1};
    const uint32_t y[2] = {image.yResolution, 1};
    PutPair(Main(kXResolution), x);
    PutPair(Main(kYResolution), y);
    if (!KeepsThumbResolution()) {
      PutPair(Main(kThumbXResolution), x);
      PutPair(Main(kThumbYResolution), y);
    }
    if (!pixelSize) return;
    for (Slot s : {kPixelXShort, kPixelYShort}) {
      if (main_[s].size == 2) PutShort(Main(s), 0, s == kPixelXShort ? image.width : image.height);
    }
    for (Slot s : {kPixelXLong, kPixelYLong}) {
      if (main_[s].size == 4) PutLong(Main(s), 0, s == kPixelXLong ? image.width : image.height);
    }
  }

  // One model's JPEG files keep the thumbnail's own resolution.
  bool KeepsThumbResolution() {
    const Value* id = Maker(kMakerModelId);
    const Value* mode = Maker(kMakerColourMode);
    return exifJpeg_ && Fits(id, 0, 4) && Fits(mode, 0, 2) &&
           Get32(id->bytes, makerOrder_) == kModelKeepsThumbResolution && Get16(mode->bytes, makerOrder_) == 2;
  }

  void ApplyCapture(ExifCaptureInfo* capture) {
    capture->time = static_cast<int32_t>(static_cast<uint32_t>(capture->time) +
                                         static_cast<uint32_t>(LocalClockOffset()));
    char text[kDateText] = {};
    if (FormatDate(capture->time, text)) {
      for (Slot s : {kDateTime, kDateOriginal, kDateDigitized}) {
        if (main_[s].size >= kDateText) Store(Main(s), 0, reinterpret_cast<const uint8_t*>(text), kDateText, 1);
      }
    }
    PutLong(Maker(kMakerFileNumber), 0, capture->fileNumber);
    PutText(Maker(kMakerOwnerName), capture->owner, kOwnerField);
    PutText(Maker(kMakerImageType), capture->imageType, kOwnerField);
  }

  void ApplyShot(const ExifShotValues& shot) {
    ShotConversion c;
    ConvertShot(shot, &c);
    if (c.hasAperture) PutPair(Main(kAperture), c.aperture);
    if (c.hasShutter) PutPair(Main(kShutterSpeed), c.shutter);
    if (c.hasBias) PutPair(Main(kExposureBias), c.bias);
    for (uint32_t i = 0; i < c.wordCount; ++i) {
      if (c.words[i].shotInfo) PutElement(Maker(kMakerShotInfo), c.words[i].index, c.words[i].value);
    }
  }

  ByteOrder order_;
  ByteOrder makerOrder_;
  bool exifJpeg_;
  bool noteFound_ = false;
  uint32_t noteOffset_ = 0, noteSize_ = 0;
  Value main_[kSlotCount];
  Value maker_[kMakerCount];
};

// The blocks the stream walk read values into.
class StreamValues {
 public:
  StreamValues(IfdQuery* list, size_t n) : list_(list), n_(n) {}
  StreamValues(const StreamValues&) = delete;
  StreamValues& operator=(const StreamValues&) = delete;
  ~StreamValues() {
    for (size_t i = 0; i < n_; ++i) {
      if (list_[i].op == IFDQ_READ && list_[i].found != 0) (void)BlockFree(reinterpret_cast<void*>(list_[i].data));
    }
  }

 private:
  IfdQuery* list_;
  size_t n_;
};

}  // namespace

uint32_t RewriteExifBlock(TiffBlockInfo* block, const Changes& changes, bool pixelSize) {
  if (block == nullptr) return QD_E_INVALID_ARG;
  IfdQuery list[kMainCount];
  FillList(list);
  const Status st = QueryExif(block, list, ReadMode::kLocate);
  if (st != ST_OK) return ToResultCode(st);
  Rewriter w(Order(*block), true);
  w.TakeMain(list);
  if (w.CameraMakerNote()) {
    TiffBlockInfo note = *block;
    note.ifdOffset = w.noteOffset();
    IfdQuery makerList[kMakerCount + 1];
    FillMakerList(makerList);
    if (QueryMakerNote(&note, makerList, w.noteOffset(), w.noteSize(), ReadMode::kLocate) == ST_OK) {
      w.TakeMaker(makerList, Order(note));
    }
  }
  w.Apply(changes, pixelSize);
  return QD_OK;
}

uint32_t RewriteExifFile(const StreamPort& port, ByteOrder order, uint32_t ifdOffset,
                         const Changes& changes) {
  BufferedReader reader{};
  Status st = ReaderOpen(port, kProbeReaderCapacity, &reader);
  if (st != ST_OK) return FailureResult(port, st);
  TiffBlockInfo block{};
  block.segmentOffset = reinterpret_cast<uintptr_t>(&reader);
  block.byteOrder = order;
  block.ifdOffset = ifdOffset;  // tiffSize 0: the TIFF header is at the stream's start

  IfdQuery list[kMainCount];
  FillList(list);
  IfdQuery makerList[kMakerCount + 1];
  FillMakerList(makerList);
  const StreamValues mainValues(list, kMainCount);
  const StreamValues makerValues(makerList, kMakerCount);
  st = QueryStreamLocate(&block, list);
  Rewriter w(order, false);
  if (st == ST_OK) {
    w.TakeMain(list);
    if (w.CameraMakerNote()) {
      block.ifdOffset = w.noteOffset();
      if (QueryStreamLocate(&block, makerList) == ST_OK) w.TakeMaker(makerList, order);
    }
  }
  (void)ReaderClose(&reader);
  if (st != ST_OK) return WalkFailure(port, st);
  // A maker note that cannot be walked is passed over, but not a failing host.
  if (port.hostError != 0) return port.hostError;
  w.Apply(changes, false);

  uint32_t error = 0;
  w.ForEachValue([&](const Value& v) {
    if (!v.changed || error != 0) return;
    StreamSeek(port.host, QD_SEEK_START, static_cast<int32_t>(v.position), &error);
    if (error == 0) StreamWriteExact(port.host, v.bytes, v.size, kErrorBase, &error);
  });
  return error;
}

uint32_t CopyWithChanges(const TiffBlockInfo& source, const Changes& changes, TiffBlockInfo* out) {
  if (out == nullptr || source.segment == nullptr || source.tiff == nullptr) return QD_E_INVALID_ARG;
  std::memset(out, 0, sizeof *out);
  TiffBlockInfo from = source;  // the query fills in order and IFD0 when unknown
  uint32_t oldOffset = 0, oldLength = 0;
  IfdQuery thumbnail[4] = {
      {IFDQ_NEXT_IFD, 0, 0, 0, 0, 0, 0},
      {IFDQ_READ, kTagJpegOffset, kLong, 0, reinterpret_cast<uintptr_t>(&oldOffset), 4, 0},
      {IFDQ_READ, kTagJpegLength, kLong, 0, reinterpret_cast<uintptr_t>(&oldLength), 4, 0},
      {IFDQ_END, 0, 0, 0, 0, 0, 0}};
  Status st = QueryExif(&from, thumbnail, ReadMode::kCopy);
  if (st != ST_OK) return ToResultCode(st);

  const PropertyRecord* newThumbnail = nullptr;
  for (PropertyRecord* const* r = changes.records; r != nullptr && *r != nullptr; ++r) {
    if ((*r)->code == kPropThumbnail) {
      newThumbnail = *r;
      break;
    }
  }
  const bool exchange = newThumbnail != nullptr && thumbnail[1].found != 0 && thumbnail[2].found != 0 && oldLength != 0;
  const uint32_t sourceLength = BlockLength(source.segment);
  const uint64_t prefix = static_cast<uint64_t>(source.tiff - source.segment);
  int64_t length = sourceLength;
  if (exchange) length += int64_t{newThumbnail->size} - oldLength;
  if (length <= static_cast<int64_t>(prefix) || length > UINT32_MAX) return QD_E_OUT_OF_RANGE;

  BlockOwner block(BlockAllocZeroed(static_cast<uint32_t>(length)));
  if (!block) return QD_E_NO_MEMORY;
  std::memcpy(block.get(), source.segment, length < sourceLength ? static_cast<size_t>(length) : sourceLength);
  TiffBlockInfo copy{block.get(), source.segmentOffset, block.get() + prefix,
                     static_cast<uint32_t>(length - static_cast<int64_t>(prefix)), from.byteOrder, from.ifdOffset};
  if (exchange) {
    IfdQuery located[4] = {{IFDQ_NEXT_IFD, 0, 0, 0, 0, 0, 0},
                           {IFDQ_READ, kTagJpegOffset, kLong, 0, 0, 0, 0},
                           {IFDQ_READ, kTagJpegLength, kLong, 0, 0, 0, 0},
                           {IFDQ_END, 0, 0, 0, 0, 0, 0}};
    st = QueryExif(&copy, located, ReadMode::kLocate);
    if (st != ST_OK) return ToResultCode(st);
    if (!FitsIn(oldOffset, newThumbnail->size, copy.tiffSize)) return QD_E_OUT_OF_RANGE;
    if (located[2].found != 0 && located[2].size >= 4) {
      Put32(newThumbnail->size, reinterpret_cast<uint8_t*>(located[2].data), Order(copy));
    }
    std::memcpy(copy.tiff + oldOffset, Payload(newThumbnail).data(), newThumbnail->size);
  }
  const bool image = changes.image != nullptr && changes.image->valid != 0;
  if (changes.records != nullptr || changes.image != nullptr) {
    const uint32_t result = RewriteExifBlock(&copy, changes, image);
    if (result != QD_OK) return result;
  }
  block.release();
  *out = copy;
  return QD_OK;
}

}  // namespace qd::replace
