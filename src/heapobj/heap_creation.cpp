// Building a new image-properties heap from a host's descriptions and
// property records, optionally over the properties of an existing file.
// The builder fills one record entry list with the layout of the heap and
// merges it into the source's heap (or an empty one).
#include <cmath>
#include <cstring>
#include <ctime>
#include <initializer_list>
#include <iterator>

#include "container/recognize.h"
#include "exifwrite/camera_models.h"
#include "exifwrite/maker_arrays.h"
#include "exifwrite/property_payload.h"
#include "format/file_kind.h"
#include "format/heap_format.h"
#include "format/heap_records.h"
#include "format/property_codes.h"
#include "frame/byte_order.h"
#include "frame/local_time.h"
#include "frame/memory_block.h"
#include "frame/stream_port.h"
#include "heap/heap_object.h"
#include "heapobj/heap_merge.h"

namespace qd::heapobj {
namespace {

constexpr uint32_t kMinComment = 256;
constexpr uint32_t kLargestCopy = 0xFFFF;  // the record walk copies records up to this length
constexpr uint32_t kCommentTextAt = 12;  // code 11: 8-byte character code, u32 length, text
constexpr char kFirmwareText[] = "Firmware Version 00.00";

// Records that take a copy of a property record's payload as they are.
struct CopiedRecord {
  uint16_t code;
  uint16_t type;
};
constexpr CopiedRecord kCopied[] = {
    {kPropMakerTag000F, heap::kTypeCustomFunctions},     {kPropMakerTag000FAlt, heap::kTypeCustomFunctions},
    {kPropMakerTag0010, heap::kTypeModelId},             {kPropMakerTag0012, heap::kTypeRecord1038},
    {kPropMakerTag0013, heap::kTypeRecord1039},          {kPropMakerTag0015, heap::kTypeRecord183B},
    {kPropCameraRotation, heap::kTypeCameraRotation},    {kPropMakerTag001B, heap::kTypeMakerNoteValue003F},
    {kPropMakerTag0080, heap::kTypeMakerNoteValue1881},  {kPropMakerTag0081, heap::kTypeMakerNoteValue1882},
    {kPropMakerTag0090, heap::kTypeMakerNoteValue1081},  {kPropMakerTag0090Alt, heap::kTypeMakerNoteValue1081},
    {kPropMakerTag0091, heap::kTypeMakerNoteValue1082},  {kPropMakerTag0092, heap::kTypeMakerNoteValue1083},
    {kPropMakerTag0093, heap::kTypeMakerNoteValue1084},  {kPropMakerTag0094, heap::kTypeMakerNoteValue0085},
    {kPropMakerTag00A0, heap::kTypeMakerNoteValue1086},  {kPropMakerTag00A1, heap::kTypeMakerNoteValue1087},
    {kPropMakerTag00A2, heap::kTypeMakerNoteValue1088},  {kPropMakerTag00A3, heap::kTypeMakerNoteValue1089},
    {kPropMakerTag00A4, heap::kTypeMakerNoteValue108A},  {kPropMakerTag00B0, heap::kTypeMakerNoteValue108B},
    {kPropMakerTag00B1, heap::kTypeMakerNoteValue108C},  {kPropMakerTag00B2, heap::kTypeMakerNoteValue108D},
    {kPropMakerTag00B3, heap::kTypeMakerNoteValue108E},  {kPropMakerTag00AE, heap::kTypeMakerNoteValue10AE},
    {kPropColourMode, heap::kTypeColourMode},            {kPropMakerTag00B5, heap::kTypeMakerNoteValue10B5},
};

// Records that set one array word (or a run of them) from u16 payload values.
struct WordRecord {
  uint16_t code;
  bool shotInfo;  // array A; else B
  uint8_t first, count;
};
constexpr WordRecord kWordRecords[] = {
    {kPropCameraSetting4, false, 4, 1},  {kPropShotInfo14, true, 14, 1},      {kPropShotInfo24, true, 24, 1},
    {kPropCameraSetting7, false, 7, 1},  {kPropCameraSetting20, false, 20, 1}, {kPropCameraSetting29, false, 29, 1},
    {kPropCameraSetting18, false, 18, 1}, {kPropCameraSettings26, false, 26, 2},
    {kPropCameraSetting40, false, 40, 1}, {kPropCameraSetting42, false, 42, 1}, {kPropFocalUnits, false, 23, 3},
};

// A value in 1/32 steps, rounded half away from zero.
uint16_t Steps(float v) { return static_cast<uint16_t>(RoundHalfAway(double{v} * 32)); }

// Seconds of the local clock: UTC plus the zone's present offset (summer time
// included), less an hour when summer time is in force now but was not at
// `utc`.
int32_t ToLocalClock(int32_t utc) {
  int32_t nowOffset = 0, thenOffset = 0;
  bool summerNow = false, summerThen = false;
  (void)LocalOffsetAt(time(nullptr), &nowOffset, &summerNow);
  (void)LocalOffsetAt(utc, &thenOffset, &summerThen);
  const int64_t drop = summerNow && !summerThen ? 3600 : 0;
  return static_cast<int32_t>(utc + int64_t{nowOffset} - drop);
}

// The entry list of the heap being built, with a buffer per fixed record.
class Builder {
 public:
  Builder(bool plain, const HeapObjectSupplement* supplement) : plain_(plain), supplement_(supplement) {
    DefaultShotInfo(a_);
    DefaultCameraSettings(b_);
    uint32_t i = 0;
    const auto fixed = [&](uint16_t type, void* data, uint32_t size) { Set(i++, type, data, size); };
    const auto open = [&](uint16_t type) { list_[i++].type = type; };
    const auto close = [&] { ++i; };
    fixed(heap::kTypeImageClass, imageClass_, sizeof imageClass_);
    fixed(heap::kTypeImageDescription, description_, sizeof description_);
    fixed(heap::kTypeFileNumber, fileNumber_, sizeof fileNumber_);
    fixed(heap::kTypeCaptureTime, captureTime_, sizeof captureTime_);
    commentSlot_ = Allocated(i++, heap::kTypeComment);
    open(heap::kTypeTextHeap);
    fixed(heap::kTypeImageTypeText, imageType_, sizeof imageType_);
    close();
    open(heap::kTypeOwnerHeap);
    fixed(heap::kTypeOwnerName, owner_, sizeof owner_);
    fixed(heap::kTypeMakerModel, makerModel_, sizeof makerModel_);
    open(heap::kTypeFirmwareHeap);
    fixed(heap::kTypeFirmware, firmware_, sizeof firmware_);
    fixed(heap::kTypeRecord180B, record180B_, sizeof record180B_);
    close();
    close();
    open(heap::kTypeMakerHeap);
    fixed(heap::kTypeFocalInfo, focal_, sizeof focal_);
    fixed(heap::kTypeRecord1027, record1027_, sizeof record1027_);
    fixed(heap::kTypeRecord1028, record1028_, sizeof record1028_);
    fixed(heap::kTypeShotInfo, aBytes_, sizeof aBytes_);
    fixed(heap::kTypeCameraSettings, bBytes_, sizeof bBytes_);
    for (const uint16_t type : kVariable) Allocated(i++, type);
    fixed(heap::kTypeThumbnailDescription, thumbnail_, sizeof thumbnail_);
    close();
    count_ = i + 1;
  }
  Builder(const Builder&) = delete;
  Builder& operator=(const Builder&) = delete;
  ~Builder() {
    for (void* p : blocks_) (void)BlockFree(p);
  }

  uint32_t Run(const StreamPort* source, const QdImageInfo* image, const ExifCaptureInfo* capture,
               const ExifShotValues* shot, PropertyRecord* const* records, HeapObject* out);

 private:
  static constexpr uint16_t kVariable[] = {
      heap::kTypeCustomFunctions,     heap::kTypeModelId,             heap::kTypeRecord1038,
      heap::kTypeRecord1039,          heap::kTypeRecord183B,          heap::kTypeCameraRotation,
      heap::kTypeMakerNoteValue003F,  heap::kTypeMakerNoteValue1881,  heap::kTypeMakerNoteValue1882,
      heap::kTypeMakerNoteValue1081,  heap::kTypeMakerNoteValue1082,  heap::kTypeMakerNoteValue1083,
      heap::kTypeMakerNoteValue1084,  heap::kTypeMakerNoteValue0085,  heap::kTypeMakerNoteValue1086,
      heap::kTypeMakerNoteValue1087,  heap::kTypeMakerNoteValue1088,  heap::kTypeMakerNoteValue1089,
      heap::kTypeMakerNoteValue108A,  heap::kTypeMakerNoteValue108B,  heap::kTypeMakerNoteValue108C,
      heap::kTypeMakerNoteValue108D,  heap::kTypeMakerNoteValue108E,  heap::kTypeMakerNoteValue10AE,
      heap::kTypeColourMode,          heap::kTypeMakerNoteValue10B5};
  // Top level 5, text heap 3, owner heap 8, maker heap 5 + variable + 3, end.
  static constexpr uint32_t kSlots = 5 + 3 + 8 + 5 + std::size(kVariable) + 3 + 1;
  static constexpr uint32_t kMaxBlocks = std::size(kVariable) + 1;  // what the source read allocates

  void Set(uint32_t i, uint16_t type, void* data, uint32_t size) {
    list_[i].type = type;
    list_[i].pointer = data;
    list_[i].size = size;
  }
  // A record the source read allocates a block for (size 0: the walk stores
  // the block in the variable).
  uint32_t Allocated(uint32_t i, uint16_t type) {
    Set(i, type, &allocated_[i], 0);
    return i;
  }
  RecordEntry* Find(uint16_t type) {
    for (uint32_t i = 0; i < count_; ++i) {
      if (list_[i].type == type) return &list_[i];
    }
    return nullptr;
  }
  void Mark(uint16_t type) { Find(type)->found = 1; }
  bool Present(uint16_t type) { return Find(type)->found != 0; }
  // Points a record at bytes the builder owns (or the caller's payload).
  void Point(uint16_t type, const void* data, uint32_t size) {
    RecordEntry* e = Find(type);
    e->pointer = const_cast<void*>(data);
    e->size = size;
    e->found = 1;
  }

  uint32_t ReadSource(const StreamPort& port, HeapObject* heap);
  bool TakeSourceBlocks();
  void Image(const QdImageInfo& image);
  void Capture(const ExifCaptureInfo& capture);
  void Shot(const ExifShotValues& shot);
  uint32_t Record(const PropertyRecord* r);
  uint32_t Comment(const uint8_t* text, uint32_t size);
  void SpeedRun(const Payload& p, uint32_t first, bool withSpeed);
  void SetA(uint32_t k, uint16_t v) {
    a_[k] = v;
    aPresent_ = true;
  }
  void SetB(uint32_t k, uint16_t v) {
    b_[k] = v;
    bPresent_ = true;
  }
  void Supplement(const HeapObjectSupplement& s);
  void Finish(const QdImageInfo* image);

  bool plain_;
  const HeapObjectSupplement* supplement_;
  RecordEntry list_[kSlots] = {};
  void* allocated_[kSlots] = {};
  uint32_t count_ = 0;
  uint32_t commentSlot_ = 0;
  BlockOwner comment_;  // the host's comment
  const QdImageInfo* image_ = nullptr;
  void* blocks_[kMaxBlocks] = {};
  uint32_t blockCount_ = 0;
  uint16_t a_[kShotInfoCount] = {};
  uint16_t b_[kCameraSettingsCount] = {};
  bool aPresent_ = false;
  bool bPresent_ = false;
  bool focalUnitsChanged_ = false;
  uint8_t imageClass_[8] = {};
  uint8_t description_[28] = {};
  uint8_t fileNumber_[4] = {};
  uint8_t captureTime_[12] = {};
  uint8_t imageType_[32] = {};
  uint8_t owner_[32] = {};
  uint8_t makerModel_[64] = {};
  uint8_t firmware_[32] = {};
  uint8_t record180B_[4] = {};
  uint8_t focal_[8] = {};
  uint8_t record1027_[12] = {};
  uint8_t record1028_[8] = {};
  uint8_t aBytes_[2 * kShotInfoCount] = {};
  uint8_t bBytes_[2 * kCameraSettingsCount] = {};
  uint8_t thumbnail_[40] = {};
};

// Recognises the source; its heap (kinds 0, 1, 2) is read into the list.
// Exif files and files recognition does not know leave the builder without
// a source.
uint32_t Builder::ReadSource(const StreamPort& port, HeapObject* heap) {
  Recognition found;
  const Status st = found.Run(port);
  if (port.hostError != 0) return port.hostError;
  if (found.kind == kKindExifJpeg || found.kind == kKindExifTiff) return QD_OK;
  if (st != ST_OK) return ToResultCode(st) == QD_E_UNSUPPORTED ? QD_OK : ToResultCode(st);
  *heap = found.TakeHeap();
  RecordEntry* cursor = list_;
  const Status read = heap::ReadHeapObject(*heap, &cursor, heap::Delivery::kCopy);
  if (!TakeSourceBlocks()) return QD_E_NO_MEMORY;
  if (read != ST_OK) return ToResultCode(read);
  // The source's comment never carries over.
  list_[commentSlot_].found = 0;
  return QD_OK;
}

// The blocks the read allocated become the records' data. False when a
// copy the walk should have made is missing for want of memory; a record
// too long to copy stays in the source heap, where the merge keeps it.
bool Builder::TakeSourceBlocks() {
  bool complete = true;
  for (uint32_t i = 0; i < count_; ++i) {
    RecordEntry& e = list_[i];
    if (e.pointer != &allocated_[i]) continue;
    if (allocated_[i] != nullptr) blocks_[blockCount_++] = allocated_[i];
    if (e.found != 0 && e.size != 0 && e.size <= kLargestCopy && allocated_[i] == nullptr) complete = false;
    if (i == commentSlot_) continue;
    e.pointer = allocated_[i];
    if (allocated_[i] == nullptr) e.found = 0;
  }
  return complete;
}

void Builder::Image(const QdImageInfo& image) {
  const bool uncompressed = image.format == 9 || image.format == 3;
  const uint32_t dataClass = image.dataCode == 2 ? 1 : image.dataCode == 3 ? 2 : 0;
  PutLE32((uncompressed ? 0x30000u : 0x10000u) + dataClass, imageClass_);
  uint32_t bits = 0;
  std::memcpy(&bits, &image.compressedBitsPerPixel, 4);
  PutLE32(bits, imageClass_ + 4);
  uint32_t aspect = 0;
  std::memcpy(&aspect, &image.aspect, 4);
  const uint32_t values[7] = {image.width, image.height, aspect, 0, image.bitsPerSample, image.bitsPerPixel,
                              (image.colour != 0 ? 1u : 0u) | ((image.flags & 0x02) != 0 ? 0x100u : 0u)};
  for (uint32_t k = 0; k < 7; ++k) PutLE32(values[k], description_ + 4 * k);
  Mark(heap::kTypeImageClass);
  Mark(heap::kTypeImageDescription);
  const size_t makerLength = sizeof camera::kMakerName;  // with its zero byte
  const size_t modelLength = strnlen(image.model, sizeof image.model);
  if (modelLength + makerLength < sizeof makerModel_) {
    std::memset(makerModel_, 0, sizeof makerModel_);
    std::memcpy(makerModel_, camera::kMakerName, makerLength);
    std::memcpy(makerModel_ + makerLength, image.model, modelLength);
    Mark(heap::kTypeMakerModel);
    Mark(heap::kTypeOwnerHeap);
  }
}

void Builder::Capture(const ExifCaptureInfo& capture) {
  std::memset(captureTime_, 0, sizeof captureTime_);
  PutLE32(static_cast<uint32_t>(ToLocalClock(capture.time)), captureTime_);
  PutLE32(capture.fileNumber, fileNumber_);
  std::memcpy(owner_, capture.owner, sizeof owner_);
  std::memcpy(imageType_, capture.imageType, sizeof imageType_);
  for (uint16_t type : {heap::kTypeCaptureTime, heap::kTypeFileNumber, heap::kTypeOwnerName,
                        heap::kTypeImageTypeText, heap::kTypeTextHeap, heap::kTypeOwnerHeap}) {
    Mark(type);
  }
}

void Builder::Shot(const ExifShotValues& shot) {
  if (shot.aperture != -1.0f) SetA(4, Steps(shot.aperture));
  if (shot.shutterSpeed != 100.0f) SetA(5, Steps(shot.shutterSpeed));
  if (shot.exposureCompensation != 100.0f) SetA(6, Steps(shot.exposureCompensation));
  if (shot.additionalEv != -1.0f) SetA(13, static_cast<uint16_t>(Truncate(double{shot.additionalEv} * 32 + 0.5)));
  if (shot.settingWord != 0xFFFF) SetB(2, shot.settingWord);
  if (shot.settingFlag == 1) SetB(1, 1);
  if (shot.settingFlag == 0) SetB(1, 2);
  if (shot.settingFlag != 0xFF) bPresent_ = true;
}

uint32_t Builder::Comment(const uint8_t* text, uint32_t size) {
  const uint32_t room = size > kMinComment ? size : kMinComment;
  comment_.reset(BlockAllocZeroed(room));
  if (!comment_) return QD_E_NO_MEMORY;
  std::memcpy(comment_.get(), text, size);
  Point(heap::kTypeComment, comment_.get(), room);
  return QD_OK;
}

// Words `first` ... of array B from a length-prefixed payload: value i + 1
// when the length L covers it (L > 2i + 3); code 10 goes on to the speed
// setting and word 17.
void Builder::SpeedRun(const Payload& p, uint32_t first, bool withSpeed) {
  if (!p.Has(2)) return;
  const uint32_t length = p.U16(0);
  for (uint32_t i = 0; i < 6 && length > 2 * i + 3 && p.Has(2 * (i + 2)); ++i) SetB(first + i, p.U16(i + 1));
  if (!withSpeed) return;
  if (length > 15 && p.Has(16)) {
    const uint16_t speed = p.U16(7);
    if (b_[16] == 0x7FFF) SetB(16, speed);
    if (a_[2] == 0 && speed != 0x7FFF) SetA(2, SpeedCodeFromSetting(speed));
  }
  if (length > 17 && p.Has(18)) SetB(17, p.U16(8));
}

uint32_t Builder::Record(const PropertyRecord* r) {
  const Payload p(r);
  for (const CopiedRecord& c : kCopied) {
    if (c.code == r->code) {
      Point(c.type, p.data(), p.size());
      if (c.type == heap::kTypeCustomFunctions) Mark(heap::kTypeMakerHeap);
      return QD_OK;
    }
  }
  for (const WordRecord& w : kWordRecords) {
    if (w.code != r->code) continue;
    if (!p.Has(2u * w.count)) return QD_OK;
    for (uint32_t i = 0; i < w.count; ++i) w.shotInfo ? SetA(w.first + i, p.U16(i)) : SetB(w.first + i, p.U16(i));
    if (w.code == kPropFocalUnits) focalUnitsChanged_ = p.U16(2) != 32;
    return QD_OK;
  }
  switch (r->code) {
    case kPropUserComment: return Comment(p.data(), p.size());
    case kPropCodedUserComment: {
      if (!p.Has(kCommentTextAt)) return QD_OK;
      const uint32_t n = p.U32At(8);
      return n <= p.size() - kCommentTextAt ? Comment(p.data() + kCommentTextAt, n) : QD_OK;
    }
    case kPropCameraSettingsPair:
      if (!p.Has(4)) return QD_OK;
      SetA(9, p.U16(0) == 1 ? static_cast<uint16_t>(p.U16(1) + 1) : 0);
      SetB(5, p.U16(0));
      return QD_OK;
    case kPropMakerTag0005:
      if (p.Has(12)) std::memcpy(record1027_, p.data(), 12), Mark(heap::kTypeRecord1027);
      return QD_OK;
    case kPropMakerTag0002:
      if (p.Has(8)) std::memcpy(focal_, p.data(), 8), Mark(heap::kTypeFocalInfo);
      return QD_OK;
    case kPropShotInfoPair:
      if (!p.Has(4)) return QD_OK;
      SetA(7, p.U16(0));
      SetA(8, p.U16(1));
      return QD_OK;
    case kPropOrientation:
      if (p.Has(6) && p.U16(2) == 0) PutLE32(p.U32At(0), description_ + 12);
      return QD_OK;
    case kPropCameraSetting3:
      if (p.Has(2) && p.U16(0) != 0xFFFF) SetB(3, p.U16(0));
      return QD_OK;
    case kPropCameraSettingsRun: SpeedRun(p, 10, true); return QD_OK;
    case kPropCameraSettingsRun2: SpeedRun(p, 32, false); return QD_OK;
    case kPropIsoSpeed: {
      if (!p.Has(2)) return QD_OK;
      const uint16_t s = p.U16(0);
      if (b_[16] == 0 || b_[16] == 0x7FFF) SetB(16, static_cast<uint16_t>(s | 0x4000));
      SetA(2, SpeedCodeFromIso(s));
      return QD_OK;
    }
    case kPropMakerTag000C:
      if (p.Has(4)) PutLE32(p.U32At(0), record180B_), Mark(heap::kTypeRecord180B);
      return QD_OK;
    case kPropShotInfoEv:
      if (!p.Has(6)) return QD_OK;
      SetA(16, p.U16(0));
      SetA(17, Steps(p.F32At(2)));
      return QD_OK;
    case kPropShotInfo15:
      if (p.Has(4)) SetA(15, Steps(p.F32At(0)));
      return QD_OK;
    case kPropMake: {
      if (!p.Has(4)) return QD_OK;
      const uint32_t length = p.U32At(0) < p.size() - 4 ? p.U32At(0) : p.size() - 4;
      const uint32_t n = length < sizeof makerModel_ ? length : sizeof makerModel_;
      std::memset(makerModel_, 0, sizeof makerModel_);
      std::memcpy(makerModel_, p.data() + 4, n);
      if (image_ != nullptr && n < sizeof makerModel_) {
        const size_t model = strnlen(image_->model, sizeof image_->model) + 1;
        const size_t room = sizeof makerModel_ - n;
        std::memcpy(makerModel_ + n, image_->model, model < room ? model : room);
      }
      makerModel_[62] = makerModel_[63] = 0;
      Mark(heap::kTypeMakerModel);
      Mark(heap::kTypeOwnerHeap);
      return QD_OK;
    }
    case kPropMakerTag0003:
      if (p.Has(4)) PutLE32(p.U32At(0), record1028_ + 4), Mark(heap::kTypeRecord1028);
      return QD_OK;
    default: return QD_OK;
  }
}

void Builder::Supplement(const HeapObjectSupplement& s) {
  float aspect = 0;
  std::memcpy(&aspect, &s.aspect, 4);
  const uint32_t values[10] = {s.word0, s.format,  s.bitsPerSample, s.bitsPerPixel,
                               s.colour, s.width,  s.height,        static_cast<uint32_t>(Truncate(aspect)),
                               s.xResolution, s.yResolution};
  for (uint32_t k = 0; k < 10; ++k) PutLE32(values[k], thumbnail_ + 4 * k);
  Mark(heap::kTypeThumbnailDescription);
}

void Builder::Finish(const QdImageInfo* image) {
  if (focalUnitsChanged_ && Present(heap::kTypeFocalInfo) && b_[25] != 0) {
    // The focal length in the units the settings now name.
    const uint32_t scaled = static_cast<uint32_t>(RoundHalfAway(static_cast<double>(GetLE16(focal_ + 6)) * b_[25] / 32));
    PutLE16(static_cast<uint16_t>(scaled > 0xFFFF ? 0xFFFF : scaled), focal_ + 6);
  }
  if (plain_ && image != nullptr) aPresent_ = bPresent_ = false;
  for (uint32_t k = 0; k < kShotInfoCount; ++k) PutLE16(a_[k], aBytes_ + 2 * k);
  for (uint32_t k = 0; k < kCameraSettingsCount; ++k) PutLE16(b_[k], bBytes_ + 2 * k);
  if (aPresent_) Mark(heap::kTypeShotInfo);
  if (bPresent_) Mark(heap::kTypeCameraSettings);
  for (uint16_t type : {heap::kTypeFocalInfo, heap::kTypeRecord1027, heap::kTypeShotInfo,
                        heap::kTypeCameraSettings, heap::kTypeCustomFunctions}) {
    if (Present(type)) Mark(heap::kTypeMakerHeap);
  }
  if (!Present(heap::kTypeComment)) {
    static const uint8_t kEmpty[kMinComment] = {};
    Point(heap::kTypeComment, kEmpty, kMinComment);
  }
}

uint32_t Builder::Run(const StreamPort* source, const QdImageInfo* image, const ExifCaptureInfo* capture,
                      const ExifShotValues* shot, PropertyRecord* const* records, HeapObject* out) {
  image_ = image;
  HeapObject sourceHeap{};
  uint32_t result = source != nullptr ? ReadSource(*source, &sourceHeap) : QD_OK;
  std::memset(firmware_, 0, sizeof firmware_);
  if (!plain_) std::memcpy(firmware_, kFirmwareText, sizeof kFirmwareText);
  if (result == QD_OK) {
    if (image != nullptr) Image(*image);
    if (capture != nullptr) Capture(*capture);
    if (shot != nullptr) Shot(*shot);
    for (PropertyRecord* const* r = records; r != nullptr && *r != nullptr && result == QD_OK; ++r) {
      result = Record(*r);
    }
  }
  if (result == QD_OK) {
    if (supplement_ != nullptr) Supplement(*supplement_);
    Finish(image);
    HeapObject merged{};
    result = ToResultCode(MergeIntoHeapObject(sourceHeap.heap != nullptr ? &sourceHeap : nullptr, list_, &merged));
    if (result == QD_OK) {
      if (image != nullptr && (image->format == 9 || image->format == 3)) std::memcpy(merged.type, "TIFP", 5);
      *out = merged;
    }
  }
  heap::ReleaseHeapObject(&sourceHeap);
  return result;
}

uint32_t Create(const qdlStream* source, const QdImageInfo* image, const ExifCaptureInfo* capture,
                const ExifShotValues* shot, PropertyRecord** records, HeapObject* out, bool plain,
                const HeapObjectSupplement* supplement) {
  if (out == nullptr) return QD_E_INVALID_ARG;
  Builder builder(plain, supplement);
  if (source == nullptr) return builder.Run(nullptr, image, capture, shot, records, out);
  StreamPort port;
  MakeStreamPort(source, &port);
  return builder.Run(&port, image, capture, shot, records, out);
}

}  // namespace
}  // namespace qd::heapobj

extern "C" QD_EXPORT uint32_t QD_API qdParseCreateHeapObject(const qdlStream* source, const QdImageInfo* imageInfo,
                                                            const ExifCaptureInfo* captureInfo,
                                                            const ExifShotValues* shotValues,
                                                            PropertyRecord** records, HeapObject* out) {
  return qd::heapobj::Create(source, imageInfo, captureInfo, shotValues, records, out, true, nullptr);
}

extern "C" QD_EXPORT uint32_t QD_API qdParseCreateHeapObjectEx(const qdlStream* source, const QdImageInfo* imageInfo,
                                                              const ExifCaptureInfo* captureInfo,
                                                              const ExifShotValues* shotValues,
                                                              PropertyRecord** records, HeapObject* out) {
  return qd::heapobj::Create(source, imageInfo, captureInfo, shotValues, records, out, false, nullptr);
}

extern "C" QD_EXPORT uint32_t QD_API qdParseCreateHeapObjectEx2(const qdlStream* source,
                                                               const QdImageInfo* imageInfo,
                                                               const ExifCaptureInfo* captureInfo,
                                                               const ExifShotValues* shotValues,
                                                               PropertyRecord** records, HeapObject* out,
                                                               const HeapObjectSupplement* supplement) {
  return qd::heapobj::Create(source, imageInfo, captureInfo, shotValues, records, out, false, supplement);
}
