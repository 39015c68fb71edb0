#include "replace/heap_rewrite.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "exifwrite/property_payload.h"
#include "exifwrite/record_values.h"
#include "format/file_kind.h"
#include "format/heap_format.h"
#include "format/heap_records.h"
#include "format/jpeg_format.h"
#include "format/property_codes.h"
#include "frame/byte_order.h"
#include "frame/memory_block.h"
#include "heap/heap_file.h"
#include "heap/heap_object.h"
#include "replace/rewrite_values.h"
#include "tiffjpeg/tiff_probes.h"

namespace qd::replace {
namespace {

using namespace qd::heap;

// Every record the rewrite may change, nested as a file's image-properties
// heap holds them; 0 closes a nested heap, and the last 0 the list.
constexpr uint16_t kRequests[] = {
    kTypeImageClass, kTypeImageDescription, kTypeRecord100A, kTypeRecord1804, kTypeFileNumber,
    kTypeCaptureTime, kTypeRecord1026, kTypeComment,
    kTypeCaptureHeap, kTypeRecord1805, kTypeRecord1813, kTypeRecord1818, kTypeRecord1807,
    kTypeRecord1014, kTypeRecord1010, 0,
    kTypeTextHeap, kTypeComment, kTypeImageTypeText, 0,
    kTypeOwnerHeap, kTypeOwnerName, kTypeMakerModel,
    kTypeFirmwareHeap, kTypeRecord180B, kTypeFirmware, kTypeRecord1812, 0, 0,
    kTypeMakerHeap, kTypeFocalInfo, kTypeRecord1027, kTypeRecord1028, kTypeShotInfo,
    kTypeCameraSettings, kTypeCustomFunctions, kTypeModelId, kTypeRecord1038, kTypeRecord1039,
    kTypeRecord183B, kTypeCameraRotation, kTypeMakerNoteValue003F, kTypeMakerNoteValue1881,
    kTypeMakerNoteValue1882, kTypeMakerNoteValue1081, kTypeMakerNoteValue1082,
    kTypeMakerNoteValue1083, kTypeMakerNoteValue1084, kTypeMakerNoteValue0085,
    kTypeMakerNoteValue1086, kTypeMakerNoteValue1087, kTypeMakerNoteValue1088,
    kTypeMakerNoteValue1089, kTypeMakerNoteValue108A, kTypeMakerNoteValue108B,
    kTypeMakerNoteValue108C, kTypeMakerNoteValue108D, kTypeMakerNoteValue108E,
    kTypeMakerNoteValue10AE, kTypeColourMode, kTypeMakerNoteValue10B5, 0,
    0};
static_assert(std::size(kRequests) == 63, "the rewrite's request list");

// Records that take a record's payload as it is, from byte `at` on.
struct Copied {
  uint16_t code;
  uint16_t type;
  uint8_t at;
};
constexpr Copied kCopied[] = {
    {kPropMakerTag0005, kTypeRecord1027, 0},           {kPropMakerTag0002, kTypeFocalInfo, 0},
    {kPropMakerTag000F, kTypeCustomFunctions, 0},      {kPropMakerTag000FAlt, kTypeCustomFunctions, 0},
    {kPropMakerTag000C, kTypeRecord180B, 0},           {kPropMakerTag0003, kTypeRecord1028, 4},
    {kPropMakerTag0090, kTypeMakerNoteValue1081, 0},   {kPropMakerTag0090Alt, kTypeMakerNoteValue1081, 0},
    {kPropMakerTag0091, kTypeMakerNoteValue1082, 0},   {kPropMakerTag0092, kTypeMakerNoteValue1083, 0},
    {kPropMakerTag0093, kTypeMakerNoteValue1084, 0},   {kPropMakerTag0094, kTypeMakerNoteValue0085, 0},
    {kPropMakerTag00A0, kTypeMakerNoteValue1086, 0},   {kPropMakerTag00A1, kTypeMakerNoteValue1087, 0},
    {kPropMakerTag00A2, kTypeMakerNoteValue1088, 0},   {kPropMakerTag00A3, kTypeMakerNoteValue1089, 0},
    {kPropMakerTag00A4, kTypeMakerNoteValue108A, 0},   {kPropMakerTag00B0, kTypeMakerNoteValue108B, 0},
    {kPropMakerTag00B1, kTypeMakerNoteValue108C, 0},   {kPropMakerTag00B2, kTypeMakerNoteValue108D, 0},
    {kPropMakerTag00B3, kTypeMakerNoteValue108E, 0},   {kPropMakerTag0010, kTypeModelId, 0},
    {kPropMakerTag0013, kTypeRecord1039, 0},           {kPropMakerTag0015, kTypeRecord183B, 0},
    {kPropCameraRotation, kTypeCameraRotation, 0},     {kPropMakerTag00AE, kTypeMakerNoteValue10AE, 0},
    {kPropColourMode, kTypeColourMode, 0},             {kPropMakerTag00B5, kTypeMakerNoteValue10B5, 0},
    {kPropMakerTag0012, kTypeRecord1038, 0},           {kPropMakerTag001B, kTypeMakerNoteValue003F, 0},
};

// The nested heaps in front of each heap a single-property identifier names.
struct HeapPath {
  uint32_t depth;
  uint16_t types[2];
};
constexpr HeapPath kHeapPaths[] = {{0, {}},
                                   {1, {kTypeCaptureHeap}},
                                   {1, {kTypeTextHeap}},
                                   {1, {kTypeOwnerHeap}},
                                   {2, {kTypeOwnerHeap, kTypeFirmwareHeap}},
                                   {1, {kTypeMakerHeap}}};

constexpr uint32_t kConvertedCaptureTime = 0x1100180E;
constexpr uint32_t kTextField = 32;  // owner name and image type of the capture record
constexpr uint32_t kCodedCommentText = 12;  // code 0x0B: 8-byte character code, u32 length

// Bytes per value of a record's kind; 0 for kinds that are not plain values.
uint32_t ElementOf(uint16_t type) {
  switch (type & kKindMask) {
    case kKindBytes: case kKindAscii: return 1;
    case kKindU16: return 2;
    case kKindU32: return 4;
    default: return 0;
  }
}

uint32_t Bits(float f) {
  uint32_t v = 0;
  std::memcpy(&v, &f, sizeof v);
  return v;
}

ByteOrder OrderOf(const HeapObject& h) { return h.bigEndian != 0 ? kBigEndian : kLittleEndian; }

// A record located in the heap object.
struct Target {
  uint8_t* data = nullptr;
  uint32_t size = 0;
  uint16_t type = 0;
  explicit operator bool() const { return data != nullptr; }
};

// One heap rewrite: the located records and the writes into them.
class Rewrite {
 public:
  explicit Rewrite(const HeapObject& heap) : heap_(heap), order_(OrderOf(heap)) {
    // Value records carry the request flag; nested heaps and terminators do not.
    for (uint32_t i = 0; i < std::size(kRequests); ++i) {
      const uint16_t type = kRequests[i];
      list_[i] = RecordEntry{type, static_cast<uint16_t>(type != 0 && !IsNestedHeap(type) ? 1 : 0), nullptr, 0};
    }
  }

  Status Locate() {
    RecordEntry* cursor = list_;
    return ReadHeapObject(heap_, &cursor, Delivery::kLocate);
  }

  void Record(const PropertyRecord* r);
  void Image(const ExifImageInfo& image);
  void Capture(const ExifCaptureInfo& capture);
  void Shot(const ExifShotValues& shot);

 private:
  // The `nth` (0-based) request for `type`; empty unless it was found. The
  // entries of an absent nested heap keep their request flag, so the data
  // pointer decides.
  Target Find(uint16_t type, int nth = 0) const {
    for (const RecordEntry& e : list_) {
      if (e.type != type || nth-- > 0) continue;
      if (e.found == 0 || e.pointer == nullptr) return {};
      return {static_cast<uint8_t*>(e.pointer), e.size, type};
    }
    return {};
  }

  // Whole values of `from`, at byte `at`, as far as the record reaches.
  void Store(const Target& t, uint32_t at, const uint8_t* from, uint32_t n) const {
    const uint32_t element = ElementOf(t.type);
    if (!t || element == 0 || at >= t.size) return;
    n = std::min(n, t.size - at);
    StoreValue(t.data + at, from, n - n % element, element, order_);
  }
  void Put16At(const Target& t, uint32_t index, uint16_t v) const {
    if (t && t.size >= 2 * index + 2) Put16(v, t.data + 2 * index, order_);
  }
  void Put32At(const Target& t, uint32_t index, uint32_t v) const {
    if (t && t.size >= 4 * index + 4) Put32(v, t.data + 4 * index, order_);
  }
  // An element of a length-prefixed array, only where the array's own byte
  // length (element 0), and at least `minLength`, covers it.
  void Element(const Target& t, uint32_t index, uint16_t v, uint32_t minLength = 0) const {
    if (!t || t.size < 2) return;
    const uint32_t length = Get16(t.data, order_);
    if (length >= std::max(2 * index + 2, minLength)) Put16At(t, index, v);
  }
  // The record becomes the text, cut to fit and ended by a zero byte.
  void Comment(const uint8_t* text, uint32_t n) const {
    const Target t = Find(kTypeComment);
    if (!t) return;
    std::memset(t.data, 0, t.size);
    std::memcpy(t.data, text, std::min(n, t.size));
    t.data[t.size - 1] = 0;
  }
  void Text(const Target& t, const char* text) const {
    if (t) std::memcpy(t.data, text, std::min(kTextField, t.size));
  }
  void Words(uint16_t code, const Payload& p) const;

  const HeapObject& heap_;
  ByteOrder order_;
  RecordEntry list_[std::size(kRequests)];
};

void Rewrite::Record(const PropertyRecord* r) {
  const Payload p(r);
  const Target settings = Find(kTypeCameraSettings);
  const Target shotInfo = Find(kTypeShotInfo);
  // A dedicated record of the heap takes precedence over the arrays.
  const Target byCode2 = Find(kTypeRecord1010);
  const Target byCode9 = Find(kTypeRecord1026);
  switch (r->code) {
    case kPropUserComment: Comment(p.data(), p.size()); return;
    case kPropCodedUserComment:
      if (p.Has(kCodedCommentText)) {
        Comment(p.data() + kCodedCommentText, std::min(p.U32At(8), p.size() - kCodedCommentText));
      }
      return;
    case kPropCameraSettingsPair:
      if (!p.Has(4)) return;
      if (byCode2 && byCode2.size >= 4) {
        Store(byCode2, 0, p.data(), 4);
        return;
      }
      Element(settings, 5, p.U16(0));
      Element(shotInfo, 9, p.U16(0) == 0 ? 0 : static_cast<uint16_t>(p.U16(1) + 1));
      return;
    case kPropCameraSetting3:
      if (!p.Has(2)) return;
      if (byCode9) {
        Put16At(byCode9, 2, p.U16(0));
      } else {
        Element(settings, 3, p.U16(0));
      }
      return;
    case kPropCameraSetting4:
      if (!p.Has(2)) return;
      Element(settings, 4, p.U16(0));
      Put16At(byCode9, 0, p.U16(0));
      return;
    case kPropOrientation:
      // The description keeps an angle only; a mirrored picture has no place there.
      if (p.Has(6) && p.U16(2) == 0) Put32At(Find(kTypeImageDescription), 3, p.U32At(0));
      return;
    default: break;
  }
  for (const Copied& c : kCopied) {
    if (c.code == r->code) {
      Store(Find(c.type), c.at, p.data(), p.size());
      return;
    }
  }
  Words(r->code, p);
}

// The camera-settings and shot-info elements a record sets.
void Rewrite::Words(uint16_t code, const Payload& p) const {
  ArrayWord words[kMaxArrayWords];
  const uint32_t n = RecordArrayWords(code, p, words);
  if (n == 0) return;
  const Target settings = Find(kTypeCameraSettings);
  const Target shotInfo = Find(kTypeShotInfo);
  for (uint32_t i = 0; i < n; ++i) Element(words[i].shotInfo ? shotInfo : settings, words[i].index, words[i].value);
}

void Rewrite::Image(const ExifImageInfo& image) {
  const Target t = Find(kTypeImageDescription);
  if (!t) return;
  uint32_t aspect = 0;
  std::memcpy(&aspect, &image.aspect, sizeof aspect);
  Put32At(t, 0, image.width);
  Put32At(t, 1, image.height);
  Put32At(t, 2, aspect);
  Put32At(t, 4, image.bitsPerSample);
  Put32At(t, 5, image.bitsPerPixel);
  // The colour flag is the first byte of the flags word, whatever the order.
  if (t.size >= 4 * 6 + 1) t.data[4 * 6] = image.colour;
}

void Rewrite::Capture(const ExifCaptureInfo& capture) {
  const Target time = Find(kTypeCaptureTime);
  if (time.size >= 4) {
    // The camera's clock runs in local time, shifted by the record's own zone field.
    const uint32_t zone = time.size >= 8 ? Get32(time.data + 4, order_) : 0;
    const int64_t local = int64_t{capture.time} + LocalClockOffset() + zone;
    Put32At(time, 0, static_cast<uint32_t>(local));
  }
  Put32At(Find(kTypeFileNumber), 0, capture.fileNumber);
  Text(Find(kTypeOwnerName), capture.owner);
  Text(Find(kTypeComment, 1), capture.imageType);
}

void Rewrite::Shot(const ExifShotValues& shot) {
  const Target floats = Find(kTypeRecord1818);
  Put32At(floats, 2, Bits(shot.aperture));
  Put32At(floats, 1, Bits(shot.shutterSpeed));
  Put32At(floats, 0, Bits(shot.exposureCompensation));
  Put32At(Find(kTypeRecord1813), 0, Bits(shot.additionalEv));
  ShotConversion c;
  ConvertShot(shot, &c);
  const Target shotInfo = Find(kTypeShotInfo);
  for (uint32_t i = 0; i < c.wordCount; ++i) {
    const ArrayWord& w = c.words[i];
    if (w.shotInfo && w.index >= 4 && w.index <= 6) Element(shotInfo, w.index, w.value, 14);
  }
}

// The heap-file image's header and heap, in one block.
uint32_t ImageLength(const HeapObject& h) { return h.headerLength + h.heapLength; }

Status WriteAt(const StreamPort& port, uint32_t at, const uint8_t* bytes, uint32_t n) {
  if (at > INT32_MAX) return ST_SIZE_MISMATCH;
  Status st = ST_OK;
  PortSeek(port.ops, kFromStart, static_cast<int32_t>(at), &st);
  return st != ST_OK ? st : PortWriteAll(port.ops, bytes, n);
}

// The image-properties heap of a "CCDR" file, where it lies, if it is as long as ours.
Status WriteHeapFile(const StreamPort& port, const HeapObject& h) {
  HeapFile file{};
  RootRequest properties{};
  const Status st = FindImageProperties(port, false, &file, &properties);
  if (st != ST_OK) return st;
  if (properties.length != h.heapLength) return ST_SIZE_MISMATCH;
  return WriteAt(port, properties.offset, h.heap, h.heapLength);
}

// ST_OK when a marker walk from the start meets an APP0 segment at `at` before
// the first scan: recognition may have passed a scan in a file without a frame
// header, and image data is not ours to overwrite. Each pass reads a byte.
Status App0BeforeScan(const StreamPort& port, uint32_t at) {
  uint64_t position = 0;
  uint8_t b = 0;
  Status st = ST_OK;
  const auto next = [&] {
    st = position > UINT32_MAX ? ST_PAST_END : PortReadAt(port.ops, static_cast<uint32_t>(position), &b, 1);
    ++position;
    return st == ST_OK;
  };
  while (position <= at && next()) {
    if (b != 0xFF) continue;
    while (next() && b == 0xFF) {
    }
    if (st != ST_OK) break;
    if (b == 0x00 || b == jpeg::kSOI) continue;
    if (b == jpeg::kSOS || b == jpeg::kEOI) break;
    if (position - 2 == at) return b == jpeg::kAPP0 ? ST_OK : ST_UNSUPPORTED;
    uint8_t field[2] = {};
    st = PortReadAt(port.ops, static_cast<uint32_t>(position), field, sizeof field);
    if (st != ST_OK) break;
    const uint32_t length = Get16(field, kBigEndian);
    position += length > 2 ? length : 2;  // a short length: scan on after it
  }
  return st == ST_OK || st == ST_PAST_END ? ST_UNSUPPORTED : st;
}

// The APP0 segment again: marker, length, the heap-file image.
Status WriteApp0(const StreamPort& port, uint32_t at, const HeapObject& h) {
  const uint32_t length = ImageLength(h) + 2;
  if (length > 0xFFFF || BlockLength(h.block) < ImageLength(h)) return ST_SIZE_MISMATCH;
  const Status met = App0BeforeScan(port, at);
  if (met != ST_OK) return met;
  const uint8_t head[4] = {0xFF, 0xE0, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
  const Status st = WriteAt(port, at, head, sizeof head);
  return st != ST_OK ? st : PortWriteAll(port.ops, h.block, ImageLength(h));
}

}  // namespace

uint32_t RewriteHeap(const HeapObject& heap, const ExifImageInfo* image, ExifCaptureInfo* capture,
                     const ExifShotValues* shot, PropertyRecord* const* records) {
  Rewrite rewrite(heap);
  const Status st = rewrite.Locate();
  if (st != ST_OK) return ToResultCode(st);
  for (PropertyRecord* const* r = records; r != nullptr && *r != nullptr; ++r) rewrite.Record(*r);
  if (image != nullptr && image->valid != 0) rewrite.Image(*image);
  if (capture != nullptr) rewrite.Capture(*capture);
  if (shot != nullptr) rewrite.Shot(*shot);
  return QD_OK;
}

uint32_t RewriteHeapRecord(const HeapObject& heap, uint32_t id, const qdlStream* value) {
  const uint16_t type = static_cast<uint16_t>(id);
  const uint32_t where = (id >> 20) & 0xF;
  const uint32_t convert = (id >> 24) & 0xF;
  // A nested heap is no value (and would take the list below for its own).
  if (where >= std::size(kHeapPaths) || IsNestedHeap(type)) return QD_E_NOT_APPLICABLE;
  const HeapPath& path = kHeapPaths[where];
  RecordEntry list[6] = {};  // the nested heaps, the record, the terminators
  for (uint32_t i = 0; i < path.depth; ++i) list[i].type = path.types[i];
  RecordEntry& record = list[path.depth];
  record.type = type;
  record.found = 1;
  RecordEntry* cursor = list;
  const Status st = ReadHeapObject(heap, &cursor, Delivery::kLocate);
  if (st != ST_OK) return ToResultCode(st);
  if (record.found == 0 || record.pointer == nullptr) return QD_E_NOT_APPLICABLE;
  auto* data = static_cast<uint8_t*>(record.pointer);
  const uint32_t size = record.size;

  BlockOwner bytes;
  uint32_t n = 0;
  const uint32_t result = ReadValueStream(value, &bytes, &n);
  if (result != QD_OK) return result;
  const ByteOrder order = OrderOf(heap);
  if (convert != 0) {
    if (id != kConvertedCaptureTime || n < 4 || size < 4) return QD_E_NOT_APPLICABLE;
    const uint32_t zone = size >= 8 ? Get32(data + 4, order) : 0;
    const int64_t local = int64_t{static_cast<int32_t>(GetLE32(bytes.get()))} + LocalClockOffset() + zone;
    Put32(static_cast<uint32_t>(local), data, order);
    return QD_OK;
  }
  const uint32_t element = ElementOf(type);
  if (element == 0) return QD_E_NOT_APPLICABLE;
  n = std::min(n, size);
  std::memset(data, 0, size);
  StoreValue(data, bytes.get(), n - n % element, element, order);
  return QD_OK;
}

Status WriteBackHeap(const StreamPort& port, const Recognition& recognition) {
  const HeapObject& h = recognition.heap;
  if (h.heap == nullptr) return ST_BAD_ARGUMENT;
  switch (recognition.kind) {
    case kKindTiffRaw: return tiff::RewriteEmbeddedHeap(port, h);
    case kKindJpegHeap: return WriteApp0(port, recognition.app0Position, h);
    case kKindHeapFile: return WriteHeapFile(port, h);
    default: return ST_UNSUPPORTED;
  }
}

}  // namespace qd::replace
