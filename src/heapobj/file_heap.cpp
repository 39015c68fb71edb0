// A file's heap object, the heap object of its developed picture, and whether
// its developed state can be cleared. Developed means: the image description
// (0x1810) describes the full view, its flags have bits 8-15 clear, and the
// image class (0x1803) names a developed picture.
#include <cstring>

#include "container/recognize.h"
#include "extract/heap_record_list.h"
#include "format/file_kind.h"
#include "format/heap_records.h"
#include "frame/byte_order.h"
#include "frame/export_call.h"
#include "heap/heap_object.h"
#include "heapobj/heap_merge.h"

namespace qd::heapobj {
namespace {

constexpr uint32_t kDevelopedFlagsMask = 0xFFFF00FFu;  // flags without bits 8-15
constexpr uint32_t kClassDeveloped = 0x10002;
constexpr uint32_t kClassUndeveloped = 0x10000;
constexpr uint32_t kImageClassSize = 8;
constexpr uint32_t kDescriptionSize = 28;
constexpr uint32_t kFlagsAt = 6 * 4;  // value 6 of the image description

// Releases a heap object unless it was handed on.
class HeldHeap {
 public:
  HeldHeap() = default;
  HeldHeap(const HeldHeap&) = delete;
  HeldHeap& operator=(const HeldHeap&) = delete;
  ~HeldHeap() { heap::ReleaseHeapObject(&h); }
  HeapObject Take() {
    const HeapObject taken = h;
    h = HeapObject{};
    return taken;
  }
  HeapObject h{};
};

uint8_t HeapClass(uint16_t kind) {
  switch (kind) {
    case kKindTiffRaw: return 3;
    case kKindJpegHeap: return 2;
    case kKindHeapFile: return 1;
    default: return 0;
  }
}

// Recognises the stream and takes its heap object. A host error seen by the
// port is handed back as it is; files without a heap are unsupported.
uint32_t FileHeap(const StreamPort& port, Recognition* found, uint8_t* heapClass, HeapObject* out) {
  const Status st = found->Run(port);
  if (port.hostError != 0) return port.hostError;
  if (st != ST_OK) return ToResultCode(st);
  if (found->kind == kKindExifJpeg || found->kind == kKindExifTiff) return QD_E_UNSUPPORTED;
  const uint8_t cls = HeapClass(found->kind);
  if (heapClass != nullptr) *heapClass = cls;
  if (cls == 0) return QD_E_UNSUPPORTED;
  *out = found->TakeHeap();
  return QD_OK;
}

RecordEntry Entry(uint16_t type, uint8_t* data, uint32_t size) {
  RecordEntry e{};
  e.type = type;
  e.pointer = data;
  e.size = size;
  return e;
}

uint32_t Developed(const StreamPort& port, const QdImageInfo& image, HeapObject* out) {
  Recognition found;
  HeldHeap file;
  uint32_t result = FileHeap(port, &found, nullptr, &file.h);
  if (result != QD_OK) return result;

  uint8_t imageClass[kImageClassSize] = {};
  uint8_t description[kDescriptionSize] = {};
  RecordEntry list[] = {Entry(heap::kTypeImageClass, imageClass, sizeof imageClass),
                        Entry(heap::kTypeImageDescription, description, sizeof description),
                        RecordEntry{}};
  RecordEntry* cursor = list;
  const Status st = heap::ReadHeapObject(file.h, &cursor, heap::Delivery::kCopy);
  if (st != ST_OK) return ToResultCode(st);
  if (list[1].found == 0) {
    *out = file.Take();
    return QD_OK;
  }
  PutLE32(image.fullWidth, description);
  PutLE32(image.fullHeight, description + 4);
  std::memcpy(description + 8, &image.fullAspect, 4);
  const uint32_t flags = GetLE32(description + kFlagsAt) & kDevelopedFlagsMask;
  PutLE32(flags, description + kFlagsAt);
  const uint32_t b = imageClass[0];
  const bool developed = b == 1 || b == 2 || (b == 3 && (flags & 0xFF) == 0);
  PutLE32(developed ? kClassDeveloped : kClassUndeveloped, imageClass);
  list[0] = Entry(heap::kTypeImageClass, imageClass, sizeof imageClass);
  list[1] = Entry(heap::kTypeImageDescription, description, sizeof description);
  list[0].found = list[1].found = 1;
  return ToResultCode(MergeIntoHeapObject(&file.h, list, out));
}

uint32_t CanClearDeveloped(const StreamPort& port) {
  Recognition found;
  HeldHeap file;
  uint8_t heapClass = 2;
  uint32_t result = FileHeap(port, &found, &heapClass, &file.h);
  if (result != QD_OK) return result;
  extract::HeapRecords rec;
  RecordEntry* cursor = rec.list();
  const Status st = heap::ReadHeapObject(file.h, &cursor, heap::Delivery::kCopy);
  if (st != ST_OK) return ToResultCode(st);
  if (heapClass == 0 || !rec.Found(extract::ImageClass) || !rec.Found(extract::ImageDescription)) {
    return QD_E_UNSUPPORTED;
  }
  uint8_t description[kDescriptionSize] = {};
  std::memcpy(description, rec.Data(extract::ImageDescription), sizeof description);
  PutLE32(GetLE32(description + kFlagsAt) & kDevelopedFlagsMask, description + kFlagsAt);
  RecordEntry list[] = {Entry(heap::kTypeImageDescription, description, sizeof description),
                        RecordEntry{}};
  list[0].found = 1;
  HeldHeap merged;
  return ToResultCode(MergeIntoHeapObject(&file.h, list, &merged.h));
}

}  // namespace
}  // namespace qd::heapobj

using qd::ExportCall;
using qd::kHostOpened;
using qd::kNeedsReading;
using qd::RunStreamExport;
using qd::StreamPort;
using qd::WorkResult;

extern "C" QD_EXPORT uint32_t QD_API qdParseGetPropHeapObject(const qdlStream* stream, uint8_t* heapClass,
                                                             HeapObject* out, JpegSofInfo* sof,
                                                             JfifInfo* jfif, TiffImageInfo* tiff) {
  const ExportCall call{stream, kHostOpened, kNeedsReading,
                        out != nullptr && sof != nullptr && jfif != nullptr && tiff != nullptr};
  return RunStreamExport(call, {}, [&](StreamPort& port) {
    qd::Recognition found;
    const uint32_t result = qd::heapobj::FileHeap(port, &found, heapClass, out);
    *sof = found.sof;
    *jfif = found.jfif;
    *tiff = found.image;
    return WorkResult{qd::ST_OK, result};
  });
}

extern "C" QD_EXPORT uint32_t QD_API qdParseGetHeapObjectDeveloped(const qdlStream* stream,
                                                                  const QdImageInfo* imageInfo,
                                                                  uint32_t, uint32_t, HeapObject* out) {
  const ExportCall call{stream, kHostOpened, kNeedsReading, imageInfo != nullptr && out != nullptr};
  return RunStreamExport(call, {}, [&](StreamPort& port) {
    return WorkResult{qd::ST_OK, qd::heapobj::Developed(port, *imageInfo, out)};
  });
}

extern "C" QD_EXPORT uint32_t QD_API QDParseSetDeveloped(const qdlStream* stream, uint16_t, uint16_t) {
  return RunStreamExport({stream, kHostOpened, kNeedsReading, true}, {}, [&](StreamPort& port) {
    return WorkResult{qd::ST_OK, qd::heapobj::CanClearDeveloped(port)};
  });
}
