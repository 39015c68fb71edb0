// One property's value, named by a 32-bit identifier: the record type (heap
// files) or tag (Exif files) in bits 0-15, the Exif field type in bits 16-19,
// where to look in bits 20-23, and in bits 24-27 whether to convert the value.
#include <algorithm>
#include <cstring>
#include <iterator>

#include "container/recognize.h"
#include "exifwrite/camera_models.h"
#include "extract/exif_file_query.h"
#include "extract/parse.h"
#include "format/exif_tags.h"
#include "format/file_kind.h"
#include "format/heap_format.h"
#include "format/heap_records.h"
#include "format/tiff_format.h"
#include "frame/byte_order.h"
#include "frame/export_call.h"
#include "frame/memory_block.h"
#include "heap/heap_object.h"
#include "heap/record_walk.h"

namespace qd::heapobj {
namespace {

struct PropertyId {
  explicit PropertyId(uint32_t id)
      : id(id), tag(id & 0xFFFF), type((id >> 16) & 0xF), where((id >> 20) & 0xF), convert((id >> 24) & 0xF) {}
  uint32_t id;
  uint16_t tag;
  uint16_t type;
  uint32_t where;
  uint32_t convert;
};

// The capture time (first value less the second) as seconds since 1970.
constexpr uint32_t kConvertedCaptureTime = 0x1100180E;
// Date-time texts that convert to seconds since 1970: IFD0 DateTime, and the
// original and digitised date-times of the Exif IFD.
constexpr uint32_t kConvertedDateTimes[] = {0x01020132, 0x01129003, 0x01129004};

constexpr uint32_t kNameField = 64;

// The value to write: a block of the library's, or the four bytes of a
// converted time.
struct Value {
  BlockOwner block;
  uint8_t time[4] = {};
  uint32_t size = 0;
  const uint8_t* data() const { return block ? block.get() : time; }
  void SetTime(int32_t seconds) {
    PutLE32(static_cast<uint32_t>(seconds), time);
    size = sizeof time;
  }
};

// The nested heaps that lead to each location class of a heap file.
struct HeapPath {
  uint32_t depth;
  uint16_t types[2];
};
constexpr HeapPath kHeapPaths[] = {{0, {}},
                                   {1, {heap::kTypeCaptureHeap}},
                                   {1, {heap::kTypeTextHeap}},
                                   {1, {heap::kTypeOwnerHeap}},
                                   {2, {heap::kTypeOwnerHeap, heap::kTypeFirmwareHeap}},
                                   {1, {heap::kTypeMakerHeap}}};

uint32_t HeapValue(const HeapObject& h, const PropertyId& p, Value* value) {
  if (p.where >= std::size(kHeapPaths)) return QD_E_NOT_APPLICABLE;
  const HeapPath& path = kHeapPaths[p.where];
  RecordEntry list[6] = {};  // the nested heaps, the record, the terminators
  for (uint32_t i = 0; i < path.depth; ++i) list[i].type = path.types[i];
  RecordEntry& record = list[path.depth];
  record.type = p.tag;
  record.found = 1;  // asks the locating walk for it
  RecordEntry* cursor = list;
  const Status st = heap::ReadHeapObject(h, &cursor, heap::Delivery::kLocate);
  if (st != ST_OK) return ToResultCode(st);
  // The walk leaves found set, with no pointer, when a nested heap is missing.
  if (record.found == 0 || record.pointer == nullptr) return QD_E_NOT_APPLICABLE;  // absent or empty
  const auto* data = static_cast<const uint8_t*>(record.pointer);
  const uint32_t size = record.size;
  const ByteOrder order = h.bigEndian != 0 ? kBigEndian : kLittleEndian;
  if (p.convert != 0) {
    if (p.id != kConvertedCaptureTime || size < 8) return QD_E_NOT_APPLICABLE;
    const int64_t seconds = int64_t{Get32(data, order)} - Get32(data + 4, order);
    value->SetTime(extract::LocalSecondsToTime(seconds > 0 ? seconds : 0));
    return QD_OK;
  }
  value->block.reset(BlockAlloc(size));
  if (!value->block) return QD_E_NO_MEMORY;
  std::memcpy(value->block.get(), data, size);
  if (order == kBigEndian) heap::SwapValues(value->block.get(), size, p.tag & heap::kKindMask);
  value->size = size;
  return QD_OK;
}

IfdQuery Query(uint16_t op, uint16_t tag = 0, uint16_t type = 0, uintptr_t data = 0, uint32_t size = 0) {
  return IfdQuery{op, tag, type, 0, data, size, 0};
}

// The queries that reach the tag's IFD; `*target` is the slot of the tag
// (for the maker note: of its location).
void BuildQueries(uint32_t where, const IfdQuery& tag, IfdQuery* list, uint32_t* target) {
  const IfdQuery enterExif = Query(IFDQ_ENTER, tiff::kTagExifIfd);
  uint32_t n = 1;  // list[0] reads Make
  switch (where) {
    case 0: *target = n; list[n++] = tag; break;
    case 1:
      list[n++] = enterExif;
      *target = n;
      list[n++] = tag;
      list[n++] = Query(IFDQ_LEAVE);
      break;
    case 2:
      list[n++] = enterExif;
      list[n++] = Query(IFDQ_ENTER, tiff::kTagInteropIfd);
      *target = n;
      list[n++] = tag;
      list[n++] = Query(IFDQ_LEAVE);
      list[n++] = Query(IFDQ_LEAVE);
      break;
    case 3:
      list[n++] = Query(IFDQ_NEXT_IFD);
      *target = n;
      list[n++] = tag;
      break;
    default:
      list[n++] = enterExif;
      *target = n;
      list[n++] = Query(IFDQ_LOCATE, tiff::kTagMakerNote);
      list[n++] = Query(IFDQ_LEAVE);
      break;
  }
  list[n] = Query(IFDQ_END);
}

// Reads the tag into a block the walk allocates.
uint32_t ExifValue(const extract::ExifFile& file, const PropertyId& p, Value* value) {
  if (p.tag == 0 || p.type == 0 || p.where > 4) return QD_E_NOT_APPLICABLE;
  if (p.convert != 0 && std::find(std::begin(kConvertedDateTimes), std::end(kConvertedDateTimes), p.id) ==
                            std::end(kConvertedDateTimes)) {
    return QD_E_NOT_APPLICABLE;
  }
  char make[kNameField + 1] = {};
  void* block = nullptr;
  const IfdQuery tag = Query(IFDQ_READ, p.tag, p.type, reinterpret_cast<uintptr_t>(&block), 0);
  IfdQuery list[8] = {Query(IFDQ_READ, tiff::kTagMake, tiff::kAscii, reinterpret_cast<uintptr_t>(make),
                            kNameField)};
  uint32_t target = 0;
  BuildQueries(p.where, tag, list, &target);
  uint32_t result = extract::QueryExifFile(file, list);
  IfdQuery note[] = {tag, Query(IFDQ_END)};
  const IfdQuery* got = &list[target];
  if (result == QD_OK && p.where == 4) {
    if (!camera::IsMaker(make)) return QD_E_OTHER_MAKER;
    if (got->found == 0) return QD_E_NOT_APPLICABLE;
    result = extract::QueryExifMakerNote(file, static_cast<uint32_t>(got->data), got->size, note);
    got = &note[0];
  }
  value->block.reset(static_cast<uint8_t*>(block));
  if (result != QD_OK) return result;
  if (got->found == 0 || block == nullptr) return QD_E_NOT_APPLICABLE;
  if (p.convert != 0) {
    const auto* text = reinterpret_cast<const char*>(value->block.get());
    value->SetTime(extract::ParseDateText(text, got->size));
    value->block.reset();
    return QD_OK;
  }
  value->size = got->size;
  return QD_OK;
}

uint32_t SingleProperty(const StreamPort& port, uint8_t* fileType, uint32_t id, const qdlStream* out) {
  Recognition found;
  const Status st = found.Run(port);
  if (port.hostError != 0) return port.hostError;
  if (st != ST_OK) return ToResultCode(st);
  const uint8_t type = extract::FileTypeOf(found.kind);
  if (fileType != nullptr) *fileType = type;
  const PropertyId p(id);
  Value value;
  uint32_t result = QD_OK;
  switch (type) {
    case extract::kTypeHeapFile:
    case extract::kTypeJpegHeap:
    case extract::kTypeTiffRaw:
      result = HeapValue(found.heap, p, &value);
      break;
    case extract::kTypeExifJpeg:
      result = ExifValue({nullptr, &found.exif}, p, &value);
      break;
    case extract::kTypeExifTiff:
      result = ExifValue({port.host, &found.exif}, p, &value);
      break;
    default:
      return QD_E_UNSUPPORTED;
  }
  if (result != QD_OK) return result;
  return StreamWriteWhole(out, value.data(), value.size);
}

}  // namespace
}  // namespace qd::heapobj

extern "C" QD_EXPORT uint32_t QD_API QDParseGetSingleProperty(const qdlStream* stream, uint8_t* fileType,
                                                             uint32_t propertyId,
                                                             const qdlStream* destination) {
  const bool destinationOk = destination != nullptr && destination->write != nullptr;
  return qd::RunStreamExport({stream, QD_OPEN_READ, qd::kNeedsReading, destinationOk}, {},
                             [&](qd::StreamPort& port) {
                               return qd::WorkResult{qd::ST_OK, qd::heapobj::SingleProperty(
                                                                    port, fileType, propertyId, destination)};
                             });
}
